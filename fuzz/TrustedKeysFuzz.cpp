// The trusted-keys parser on arbitrary text, held to a plain model of the
// format: lines split at line feeds, blanks (space, tab, carriage return)
// around words, blank lines and lines starting with '#' ignored, every
// other line "ed25519 <base64 of 32 bytes> [comment]", the first sixteen
// different keys kept in file order and every other line a problem named by
// its number. Whatever the text: keys and a refusal never both, each key
// with its own id, and the keys written out again read back the same.
#include "channel/Base64.h"
#include "channel/TrustedKeys.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kestrel::ParseTrustedKeys;
using kestrel::PublicKey;
using kestrel::TrustedKeysRead;
using kestrel::fuzz::Require;

const std::string kPath = "/etc/kestrel/trusted-keys";

std::vector<std::string_view> Words(std::string_view line)
{
    constexpr const char* kBlanks = " \t\r";
    std::vector<std::string_view> words;
    for (std::size_t at = line.find_first_not_of(kBlanks); at != std::string_view::npos;) {
        const std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
        words.push_back(line.substr(at, end - at));
        at = line.find_first_not_of(kBlanks, end);
    }
    return words;
}

struct Expected {
    std::vector<PublicKey> keys;
    std::vector<int> problemLines;
};

Expected Model(std::string_view text)
{
    Expected expected;
    int number = 0;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t feed = text.find('\n', begin);
        const std::size_t end = feed == std::string_view::npos ? text.size() : feed;
        const std::vector<std::string_view> words = Words(text.substr(begin, end - begin));
        begin = end + 1;
        ++number;
        if (words.empty() || words[0].front() == '#')
            continue;
        PublicKey key{};
        const bool read = words[0] == "ed25519" && words.size() >= 2
            && kestrel::DecodeBase64Exactly(words[1], key.data(), key.size());
        const bool known = std::find(expected.keys.begin(), expected.keys.end(), key) != expected.keys.end();
        if (!read || (!known && expected.keys.size() == kestrel::kMaxTrustedKeys))
            expected.problemLines.push_back(number);
        else if (!known)
            expected.keys.push_back(key);
    }
    return expected;
}

std::vector<PublicKey> KeysOf(const TrustedKeysRead& read)
{
    std::vector<PublicKey> keys;
    for (const kestrel::TrustedKey& key : read.keys)
        keys.push_back(key.publicKey);
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TrustedKeysRead read = ParseTrustedKeys(text, kPath);
    const Expected expected = Model(text);

    Require(KeysOf(read) == expected.keys, "the keys are the model's, in file order");
    Require(read.lineProblems.size() == expected.problemLines.size(), "every line that is no key is a problem");
    for (std::size_t i = 0; i < read.lineProblems.size(); ++i) {
        const std::string named = kPath + ":" + std::to_string(expected.problemLines[i]) + ": ";
        Require(read.lineProblems[i].rfind(named, 0) == 0, "a problem names the file and its line");
    }
    const bool keys = !read.keys.empty();
    Require(keys == (read.fault == TrustedKeysRead::Fault::None) && keys == read.refusal.empty(),
            "keys come without a refusal, no keys with one");
    Require(keys || read.fault == TrustedKeysRead::Fault::NoValidKey, "text without a key holds no valid key");
    for (const kestrel::TrustedKey& key : read.keys)
        Require(key.id == kestrel::KeyIdOf(key.publicKey), "each key has its own id");

    std::string written;
    for (const kestrel::TrustedKey& key : read.keys)
        written += kestrel::TrustedKeyLine(key.publicKey, "written again") + "\n";
    const TrustedKeysRead again = ParseTrustedKeys(written, kPath);
    Require(KeysOf(again) == KeysOf(read) && again.lineProblems.empty(), "the keys written out read back the same");
    return 0;
}
