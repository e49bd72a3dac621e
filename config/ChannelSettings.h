#pragma once

#include <string>

namespace kestrel {

// Reads the main channel's settings from the settings file beside the program
// file at `programPath`: the port text (default "9000"), which is written back
// so that the file always shows it, and the bind address (default empty).
// False, with both texts untouched, when there is no settings file path;
// a missing or unreadable file gives the defaults, and a failed write-back
// is ignored.
bool ReadChannelSettings(const std::string& programPath, std::string& portText, std::string& bindAddress);

} // namespace kestrel
