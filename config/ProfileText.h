#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The initialisation-file format, worked on the bytes of a whole file:
// "[section]" lines, "key=value" lines and ";" comment lines. Names are GBK
// byte strings in which only the ASCII letters compare without regard to
// case; blanks around names and values do not count. A name is looked for in
// the first section of that name only, and there its first key of that name.

// The value of `key` in `section`, without the blanks around it and without
// one pair of enclosing quotes ("..." or '...'); nothing when the section or
// the key is missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// `text` with `key` in `section` set to `value`. An existing value is replaced
// where it stands; a missing key is added behind the last line of its section,
// a missing section at the end. New lines take the text's own line break (CR LF
// when it has none yet). Every other byte stays as it is. Nothing when the
// entry cannot be written without changing the file's lines: a line break in
// any of the three, or a key holding "=" or opening like a comment or a section.
std::optional<std::string> SetProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key, std::string_view value);

} // namespace kestrel
