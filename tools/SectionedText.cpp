#include "tools/SectionedText.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string LowerName(std::string_view name)
{
    std::string lower(TrimmedBlanks(name));
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c); });
    return lower;
}

} // namespace

std::string_view TrimmedBlanks(std::string_view text)
{
    const std::size_t start = text.find_first_not_of(kBlanks);
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

bool ReadSectionedText(std::string_view text, const std::function<std::string(const SectionedLine&)>& take,
                       std::function<void(int line, const std::string& problem)> problem)
{
    if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
        text.remove_prefix(kUtf8ByteOrderMark.size());
    bool wellFormed = true;
    const auto note = [&](int line, const std::string& what) {
        wellFormed = false;
        problem(line, what);
    };
    SectionedLine line;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view content = TrimmedBlanks(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++line.number;
        if (content.empty() || content.front() == '#' || content.front() == ';')
            continue;
        if (content.front() == '[') {
            if (content.back() != ']') {
                note(line.number, "the section's \"]\" is missing");
                continue;
            }
            line.kind = SectionedLine::Kind::Section;
            line.name = LowerName(content.substr(1, content.size() - 2));
            line.value = {};
        } else {
            const std::size_t equals = content.find('=');
            if (equals == std::string_view::npos) {
                note(line.number, "not \"key = value\"");
                continue;
            }
            line.kind = SectionedLine::Kind::Key;
            line.name = LowerName(content.substr(0, equals));
            line.value = TrimmedBlanks(content.substr(equals + 1));
        }
        if (std::string refusal = take(line); !refusal.empty())
            note(line.number, refusal);
    }
    return wellFormed;
}

} // namespace kestrel
