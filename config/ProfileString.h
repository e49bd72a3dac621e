#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// The longest value a read gives back, in bytes; a longer one is cut.
constexpr std::size_t kMaxProfileValueBytes = 258;

// The value of `key` in `section` of the settings file at `path`, or
// `defaultValue` when the file, the section or the key is missing or the file
// cannot be read. Either is cut to kMaxProfileValueBytes.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view defaultValue);

// Sets `key` in `section` of the settings file at `path` to `value`, creating
// the file, the section or the key as needed; every other byte of the file
// stays. False when the file cannot be read or written; callers that can do
// without the value on disk ignore it.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

} // namespace kestrel
