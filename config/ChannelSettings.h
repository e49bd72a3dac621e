#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Where the main channel listens, as the settings file says.
struct ChannelSettings {
    std::string portText;    // as the file has it, "9000" by default
    long port = 0;           // portText read as PortFromText reads it
    std::string bindAddress; // dotted quad; empty means every card
    std::string multicastGroup; // dotted quad; empty means no group
    // The trusted-keys file, turned from the file's GBK into a path that
    // can be opened; empty when announcements are not signed.
    std::string trustedKeysPath;
};

// Reads the main channel's settings from the settings file at
// `settingsPath`: the port text (default "9000"), which is written back so
// that the file always shows it, the bind address, the multicast group and
// the trusted-keys file (all empty by default, never written).
// False, with `settings` untouched, when there is no settings file path; a
// missing or unreadable file gives the defaults, and a failed write-back is
// ignored.
bool ReadChannelSettings(const std::string& settingsPath, ChannelSettings& settings);

// The channel port as the settings file writes it, read the way the C
// library's atol reads: leading blanks and one sign allowed, digits up to
// the first other character, 0 when there are none. Values beyond the
// 32-bit range stop at its ends. The socket takes the low 16 bits.
long PortFromText(std::string_view text);

} // namespace kestrel
