#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Names in settings files, link records and catalogues ignore the case of
// the ASCII letters A-Z only; every other byte, GBK included, stays as it is.
inline char FoldAsciiCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string FoldedAscii(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = FoldAsciiCase(c);
    return folded;
}

} // namespace kestrel
