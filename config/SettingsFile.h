#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// A settings file holds a few lines; anything larger is not one of ours.
constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;

enum class SettingsFileState { Missing, Loaded, Unreadable };

// Reads the whole file into `text` (left empty unless Loaded). Missing: there
// is no file at `path`. Unreadable: it is not a regular file, cannot be read
// or is larger than kMaxSettingsFileBytes; a line on standard output says so.
SettingsFileState LoadSettingsFile(const std::string& path, std::string& text);

// Replaces the file at `path` by one holding `text`, all at once: the new
// content goes to a file beside it that is synced and renamed over it, so an
// interrupted write leaves the old file or the new one, never a part. The file
// keeps its mode and owner, and a symbolic link to it stays a link. False when
// the file or its directory cannot be written (with a line on standard output)
// or the path is empty.
bool StoreSettingsFile(const std::string& path, std::string_view text);

} // namespace kestrel
