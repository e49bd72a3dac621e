#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// One line of an INI-style file IT staff or the page write: "[section]",
// "key = value", blank, or a "#" or ";" comment.
struct SectionedLine {
    enum class Kind { Section, Key };
    Kind kind = Kind::Key;
    int number = 0;
    // The section's name, or the key; lower-cased ASCII, blanks dropped.
    std::string name;
    std::string_view value;
};

// `text` without the blanks (spaces, tabs, carriage returns) around it.
std::string_view TrimmedBlanks(std::string_view text);

// Hands each section and key line of `text` to `take` in order; a line
// that is neither is named in `problem` as "LINE: ..." and skipped. Returns
// whether every line was well formed. `take` returns "" or the line's
// problem, which is noted the same way.
bool ReadSectionedText(std::string_view text, const std::function<std::string(const SectionedLine&)>& take,
                       std::function<void(int line, const std::string& problem)> problem);

} // namespace kestrel
