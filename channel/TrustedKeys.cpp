#include "channel/TrustedKeys.h"

#include "base/WholeFile.h"
#include "channel/Base64.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The next blank-separated word of `text`, taken off its front.
std::string_view NextWord(std::string_view& text)
{
    text = Trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// The problem with one key line, or empty when `key` was read from it.
std::string ParseKeyLine(std::string_view line, TrustedKey& key)
{
    const std::string_view kind = NextWord(line);
    const std::string_view base64 = NextWord(line);
    if (kind != "ed25519")
        return "not an \"ed25519 <public key> [comment]\" line";
    if (!DecodeBase64Exactly(base64, key.publicKey.data(), key.publicKey.size()))
        return "the public key is not 32 bytes of base64";
    key.id = KeyIdOf(key.publicKey);
    return {};
}

TrustedKeysRead Refuse(TrustedKeysRead read, TrustedKeysRead::Fault fault, const std::string& path,
                       const std::string& why)
{
    read.fault = fault;
    read.keys.clear();
    read.refusal = path + ": " + why + "; no announcement is accepted";
    return read;
}

} // namespace

std::string TrustedKeyLine(const PublicKey& publicKey, const std::string& comment)
{
    return "ed25519 " + Base64Text(publicKey.data(), publicKey.size()) + (comment.empty() ? "" : " " + comment);
}

TrustedKeysRead ReadTrustedKeys(const std::string& path)
{
    using Fault = TrustedKeysRead::Fault;
    TrustedKeysRead read;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Refuse(read, Fault::Missing, path, "the trusted-keys file is missing");
        return Refuse(read, Fault::Unreadable, path, std::string("cannot be read: ") + std::strerror(errno));
    }
    // Whoever can change the file decides which announcer the browser obeys.
    if (status.st_uid != 0 && status.st_uid != ::geteuid())
        return Refuse(read, Fault::WrongOwner, path, "belongs to neither root nor this user");
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Refuse(read, Fault::WritableByOthers, path, "can be changed by group or others (chmod go-w)");

    std::string text;
    const WholeFileRead file = ReadWholeFile(path, kMaxTrustedKeysFileBytes, text);
    switch (file.state) {
    case WholeFileRead::State::Loaded:
        break;
    case WholeFileRead::State::Missing:
        return Refuse(read, Fault::Missing, path, "the trusted-keys file is missing");
    case WholeFileRead::State::NotRegular:
        return Refuse(read, Fault::Unreadable, path, "is not a regular file");
    case WholeFileRead::State::TooLarge:
        return Refuse(read, Fault::Unreadable, path, "is too large for a trusted-keys file");
    case WholeFileRead::State::Failed:
        return Refuse(read, Fault::Unreadable, path, std::string("cannot be read: ") + std::strerror(file.error));
    }
    return ParseTrustedKeys(text, path);
}

TrustedKeysRead ParseTrustedKeys(std::string_view text, const std::string& path)
{
    TrustedKeysRead read;
    std::string_view rest = text;
    for (int lineNumber = 1; !rest.empty(); ++lineNumber) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = Trimmed(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (line.empty() || line.front() == '#')
            continue;
        TrustedKey key;
        std::string problem = ParseKeyLine(line, key);
        // A key named again is trusted already, however many came before.
        const bool known = problem.empty()
            && std::any_of(read.keys.begin(), read.keys.end(),
                           [&key](const TrustedKey& other) { return other.publicKey == key.publicKey; });
        if (problem.empty() && !known && read.keys.size() >= kMaxTrustedKeys)
            problem = "more than " + std::to_string(kMaxTrustedKeys) + " keys";
        if (!problem.empty())
            read.lineProblems.push_back(path + ":" + std::to_string(lineNumber) + ": " + problem);
        else if (!known)
            read.keys.push_back(key);
    }
    if (read.keys.empty())
        return Refuse(read, TrustedKeysRead::Fault::NoValidKey, path, "holds no valid key");
    return read;
}

} // namespace kestrel
