#include "channel/HighestCounters.h"

#include "base/WholeFile.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace kestrel {

namespace {

constexpr std::size_t kLargestFile = 16 * 1024;

bool ReadKeyId(std::string_view hex, KeyId& id)
{
    if (hex.size() != 2 * id.size())
        return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const std::string pair(hex.substr(2 * i, 2));
        char* end = nullptr;
        const unsigned long byte = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2 || pair[0] == '+' || pair[0] == '-' || pair[0] == ' ')
            return false;
        id[i] = static_cast<unsigned char>(byte);
    }
    return true;
}

} // namespace

void LoadHighestCounters(const std::string& path, CAnnouncementVerifier& verifier)
{
    std::string text;
    if (ReadWholeFile(path, kLargestFile, text).state != WholeFileRead::State::Loaded)
        return;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string line(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        const std::size_t space = line.find(' ');
        KeyId id;
        if (space == std::string::npos || !ReadKeyId(std::string_view(line).substr(0, space), id))
            continue;
        const std::string digits = line.substr(space + 1);
        char* stop = nullptr;
        errno = 0;
        const unsigned long long counter = std::strtoull(digits.c_str(), &stop, 10);
        // A number past the largest would be taken as the largest, and no
        // frame would ever count again.
        if (!digits.empty() && digits[0] >= '0' && digits[0] <= '9' && *stop == '\0' && errno != ERANGE)
            verifier.RestoreHighest(id, counter);
    }
}

int SaveHighestCounters(const std::string& path, const CAnnouncementVerifier& verifier)
{
    std::string text;
    for (int key = 0; key < verifier.KeyCount(); ++key) {
        if (verifier.HighestAt(key) > 0)
            text += KeyIdText(verifier.KeyIdAt(key)) + " " + std::to_string(verifier.HighestAt(key)) + "\n";
    }
    return ReplaceWholeFile(path, text);
}

} // namespace kestrel
