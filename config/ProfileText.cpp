#include "config/ProfileText.h"

#include "base/AsciiCase.h"

namespace kestrel {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// A GBK lead byte takes the next byte with it. Its trail byte may look like an
// ASCII letter or a "]", and must neither be case-folded nor close a section.
std::size_t CharLengthAt(std::string_view s, std::size_t i)
{
    const auto byte = static_cast<unsigned char>(s[i]);
    return byte >= 0x81 && byte <= 0xFE && i + 1 < s.size() ? 2 : 1;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t length = CharLengthAt(a, i);
        const bool same = length == 2 ? a.substr(i, 2) == b.substr(i, 2) : FoldAsciiCase(a[i]) == FoldAsciiCase(b[i]);
        if (!same)
            return false;
        i += length;
    }
    return true;
}

// The name of a "[section]" line (blanks trimmed), or nothing for any other
// line. The last "]" closes the name.
std::optional<std::string_view> SectionName(std::string_view line)
{
    if (line.empty() || line[0] != '[')
        return std::nullopt;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 1; i < line.size(); i += CharLengthAt(line, i)) {
        if (line[i] == ']')
            close = i;
    }
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct KeyPlace {
    bool sectionFound = false;
    bool keyFound = false;
    std::size_t valueBegin = 0; // the value's bytes, blanks around it excluded
    std::size_t valueEnd = 0;
    std::size_t insertAt = 0;   // just behind the section's last non-blank line
};

KeyPlace FindKey(std::string_view text, std::string_view section, std::string_view key)
{
    section = Trim(section);
    key = Trim(key);
    KeyPlace place;
    bool inSection = false;
    for (std::size_t lineBegin = 0; lineBegin < text.size();) {
        const std::size_t lineFeed = text.find('\n', lineBegin);
        const std::size_t lineEnd = lineFeed == std::string_view::npos ? text.size() : lineFeed;
        const std::size_t nextLine = lineFeed == std::string_view::npos ? text.size() : lineFeed + 1;
        const std::string_view line = Trim(text.substr(lineBegin, lineEnd - lineBegin));
        lineBegin = nextLine;

        if (const auto name = SectionName(line)) {
            if (inSection)
                break;
            inSection = SameName(*name, section);
            place.sectionFound = inSection;
            place.insertAt = nextLine;
            continue;
        }
        if (!inSection || line.empty())
            continue;
        place.insertAt = nextLine;
        const std::size_t equals = line.find('=');
        if (line[0] == ';' || equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), key))
            continue;
        const std::string_view value = Trim(line.substr(equals + 1));
        place.keyFound = true;
        place.valueBegin = value.empty() ? static_cast<std::size_t>(line.data() - text.data()) + line.size()
                                         : static_cast<std::size_t>(value.data() - text.data());
        place.valueEnd = place.valueBegin + value.size();
        break;
    }
    return place;
}

std::string_view Unquoted(std::string_view value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return quoted ? value.substr(1, value.size() - 2) : value;
}

bool CanWriteEntry(std::string_view section, std::string_view key, std::string_view value)
{
    const auto hasLineBreak = [](std::string_view s) { return s.find('\n') != std::string_view::npos; };
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    // A lone GBK lead byte would take the closing "]" as its trail byte, and
    // a "]" inside the name could close it early: the key would then land in
    // whatever section comes before, or in another one.
    section = Trim(section);
    const std::string sectionLine = "[" + std::string(section) + "]";
    if (SectionName(sectionLine) != section)
        return false;
    key = Trim(key);
    return key.find('=') == std::string_view::npos && (key.empty() || (key[0] != ';' && key[0] != '['));
}

std::string_view LineBreakOf(std::string_view text)
{
    const std::size_t lineFeed = text.find('\n');
    const bool bareLineFeed = lineFeed != std::string_view::npos && (lineFeed == 0 || text[lineFeed - 1] != '\r');
    return bareLineFeed ? "\n" : "\r\n";
}

} // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key)
{
    const KeyPlace place = FindKey(text, section, key);
    if (!place.keyFound)
        return std::nullopt;
    return std::string(Unquoted(text.substr(place.valueBegin, place.valueEnd - place.valueBegin)));
}

std::optional<std::string> SetProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key, std::string_view value)
{
    if (!CanWriteEntry(section, key, value))
        return std::nullopt;
    const KeyPlace place = FindKey(text, section, key);
    std::string result(text);
    if (place.keyFound)
        return result.replace(place.valueBegin, place.valueEnd - place.valueBegin, value);

    const std::string_view lineBreak = LineBreakOf(text);
    const std::size_t insertAt = place.sectionFound ? place.insertAt : text.size();
    std::string lines;
    if (insertAt == text.size() && !text.empty() && text.back() != '\n')
        lines += lineBreak;
    if (!place.sectionFound) {
        lines.append("[").append(Trim(section)).append("]").append(lineBreak);
    }
    lines.append(Trim(key)).append("=").append(value).append(lineBreak);
    return result.insert(insertAt, lines);
}

} // namespace kestrel
