#pragma once

#include "channel/SignedLinkRecordFrame.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The trusted-keys file of a pupil machine: UTF-8 text, one key a line,
//   ed25519 <base64 of the 32-byte public key> [comment]
// Blank lines and lines starting with '#' are ignored.
struct TrustedKey {
    PublicKey publicKey{};
    KeyId id{};
};

struct TrustedKeysRead {
    enum class Fault {
        None,
        Missing,
        Unreadable,       // not a regular file, too large, or the read failed
        WrongOwner,       // owned by neither root nor this user
        WritableByOthers, // group or others may change it
        NoValidKey,
    };
    Fault fault = Fault::None;
    std::vector<TrustedKey> keys;
    // "FILE:LINE: problem" for every line that did not parse.
    std::vector<std::string> lineProblems;
    // Why no frame is accepted, naming the file; empty when keys were read.
    std::string refusal;
};

// More keys than a school has announcers are not one of ours.
constexpr std::size_t kMaxTrustedKeys = 16;
constexpr std::size_t kMaxTrustedKeysFileBytes = 64 * 1024;

// The line for the file that trusts `publicKey`; comment may be empty.
std::string TrustedKeyLine(const PublicKey& publicKey, const std::string& comment);

// Reads the file. Any fault leaves `keys` empty: a configured file that
// cannot be trusted means no frame is accepted, never that every frame is.
TrustedKeysRead ReadTrustedKeys(const std::string& path);

// The keys of a trusted-keys file's text, as ReadTrustedKeys takes them
// once the file itself passed; `path` only names the file in the problems.
TrustedKeysRead ParseTrustedKeys(std::string_view text, const std::string& path);

} // namespace kestrel
