#include "tools/CatalogueParser.h"

#include "base/AsciiCase.h"
#include "base/GbkText.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace kestrel {

// Where a key's text goes in the record and which sections may give it.
struct CCatalogueParser::KeyRule {
    const char* key;
    std::size_t offset;
    std::size_t width;
    bool inHome;
    bool inLink;
};

namespace {

constexpr int kNameKey = 0;
constexpr int kUrlKey = 2;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The character that starts at `offset`, when the bytes there are one
// well-formed UTF-8 sequence; -1 otherwise.
long DecodeUtf8At(std::string_view text, std::size_t offset)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(offset);
    int length = 0;
    long code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return -1;
    }
    if (offset + length > text.size())
        return -1;
    for (int i = 1; i < length; ++i) {
        if ((byte(offset + i) & 0xC0) != 0x80)
            return -1;
        code = (code << 6) | (byte(offset + i) & 0x3F);
    }
    return code;
}

std::string DescribeUnconvertible(std::string_view key, std::string_view value, std::size_t offset)
{
    const long code = DecodeUtf8At(value, offset);
    if (code < 0)
        return std::string(key) + " is not valid UTF-8 text; save the file as UTF-8";
    char codePoint[24];
    std::snprintf(codePoint, sizeof codePoint, "U+%04lX", code);
    const std::size_t length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    return std::string(key) + ": the character \"" + std::string(value.substr(offset, length)) + "\" ("
        + codePoint + ") has no GBK form";
}

bool HoldsControlCharacter(std::string_view value)
{
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
            return true;
    }
    return false;
}

} // namespace

bool CCatalogueParser::Parse(std::string_view text, AnnouncedRecords& records, CatalogueProblem& problem)
{
    *this = CCatalogueParser();
    m_records = &records;
    m_problem = &problem;
    records = AnnouncedRecords();

    if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
        text.remove_prefix(kUtf8ByteOrderMark.size());
    while (!text.empty()) {
        ++m_line;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!ParseLine(Trim(line)))
            return false;
    }
    if (!CloseSection())
        return false;
    if (records.count == 0)
        return Fail(0, "no [home] and no [link] section: nothing to announce");
    return true;
}

bool CCatalogueParser::ParseLine(std::string_view line)
{
    if (line.empty() || line.front() == '#' || line.front() == ';')
        return true;
    if (line.front() == '[') {
        if (line.back() != ']')
            return Fail(m_line, "a section name must end with ]");
        return OpenSection(Trim(line.substr(1, line.size() - 2)));
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return Fail(m_line, "expected \"key = value\", a [section] or a # comment");
    return SetKey(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
}

bool CCatalogueParser::OpenSection(std::string_view name)
{
    if (!CloseSection())
        return false;
    const std::string section = FoldedAscii(name);
    if (section == "home") {
        if (m_homeLine != 0)
            return Fail(m_line, "a second [home] section (the first is on line " + std::to_string(m_homeLine) + ")");
        m_section = Section::Home;
        m_homeLine = m_line;
    } else if (section == "link") {
        if (m_linkCount == kMaxLinks)
            return Fail(m_line, "more than 20 links: the window has room for 20");
        m_section = Section::Link;
        ++m_linkCount;
    } else {
        return Fail(m_line, "unknown section [" + std::string(name) + "]; a catalogue has [home] and [link] sections");
    }
    m_sectionLine = m_line;
    std::memset(m_keyLines, 0, sizeof m_keyLines);
    LinkRecord& record = m_records->records[m_records->count];
    record = LinkRecord();
    if (m_section == Section::Home)
        std::memcpy(record.name, "home", 4);
    return true;
}

bool CCatalogueParser::CloseSection()
{
    if (m_section == Section::None)
        return true;
    if (m_section == Section::Home && m_keyLines[kUrlKey] == 0)
        return Fail(m_sectionLine, "this [home] section has no url");
    if (m_section == Section::Link && m_keyLines[kNameKey] == 0)
        return Fail(m_sectionLine, "this [link] section has no name");
    m_nameLines[m_records->count] = m_section == Section::Home ? m_sectionLine : m_keyLines[kNameKey];
    ++m_records->count;
    m_section = Section::None;
    return true;
}

bool CCatalogueParser::SetKey(std::string_view key, std::string_view value)
{
    static const KeyRule kRules[kKeyCount] = {
        {"name", offsetof(LinkRecord, name), sizeof LinkRecord::name, false, true},
        {"caption", offsetof(LinkRecord, caption), sizeof LinkRecord::caption, false, true},
        {"url", offsetof(LinkRecord, url), sizeof LinkRecord::url, true, true},
        {"picture", offsetof(LinkRecord, hotPicture), sizeof LinkRecord::hotPicture, false, true},
        {"cool-picture", offsetof(LinkRecord, coolPicture), sizeof LinkRecord::coolPicture, false, true},
    };
    if (m_section == Section::None)
        return Fail(m_line, "\"" + std::string(key) + "\" stands before the first [home] or [link] section");

    const std::string lowerKey = FoldedAscii(key);
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyRule& rule = kRules[i];
        if (lowerKey != rule.key || !(m_section == Section::Home ? rule.inHome : rule.inLink))
            continue;
        if (m_keyLines[i] != 0)
            return Fail(m_line, lowerKey + " is given twice in this section (first on line " + std::to_string(m_keyLines[i]) + ")");
        m_keyLines[i] = m_line;
        return StoreText(rule, value) && (i != kNameKey || CheckNewName());
    }
    if (m_section == Section::Home)
        return Fail(m_line, "unknown key \"" + std::string(key) + "\" in [home]; it takes only url");
    return Fail(m_line, "unknown key \"" + std::string(key) + "\" in [link]; it takes name, caption, url, picture and cool-picture");
}

bool CCatalogueParser::StoreText(const KeyRule& rule, std::string_view value)
{
    if (HoldsControlCharacter(value))
        return Fail(m_line, std::string(rule.key) + " holds a control character");
    std::string gbk;
    std::size_t badOffset = 0;
    if (!Utf8ToGbk(value, gbk, &badOffset))
        return Fail(m_line, DescribeUnconvertible(rule.key, value, badOffset));
    if (gbk.size() >= rule.width) {
        return Fail(m_line, std::string(rule.key) + " is " + std::to_string(gbk.size()) + " bytes in GBK; at most "
            + std::to_string(rule.width - 1) + " fit");
    }
    auto* field = reinterpret_cast<char*>(&m_records->records[m_records->count]) + rule.offset;
    std::memcpy(field, gbk.data(), gbk.size());
    return true;
}

bool CCatalogueParser::CheckNewName()
{
    const LinkRecord& record = m_records->records[m_records->count];
    if (FieldText(record.name).empty())
        return Fail(m_line, "name is empty");
    if (IsHomeRecord(record))
        return Fail(m_line, "the name \"home\" is kept for the [home] section");
    for (int i = 0; i < m_records->count; ++i) {
        if (LinkNamesEqual(FieldText(m_records->records[i].name), FieldText(record.name))) {
            return Fail(m_line, "the name \"" + GbkToUtf8(FieldText(record.name)) + "\" is already used on line "
                + std::to_string(m_nameLines[i]));
        }
    }
    return true;
}

bool CCatalogueParser::Fail(int line, std::string text)
{
    m_problem->line = line;
    m_problem->text = std::move(text);
    return false;
}

} // namespace kestrel
