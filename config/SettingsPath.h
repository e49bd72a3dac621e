#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The settings file that lies beside the program file: the program path with
// the extension of its file name replaced by ".INI", or ".INI" appended when
// the file name has none (/opt/kestrel/kestrel gives /opt/kestrel/kestrel.INI).
// Dots in directory names are never cut at, and a leading dot marks a hidden
// file, not an extension. Empty when there is no program file name: then
// there are no settings.
std::string SettingsPathFor(std::string_view programPath);

} // namespace kestrel
