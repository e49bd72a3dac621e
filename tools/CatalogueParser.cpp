#include "tools/CatalogueParser.h"

#include "base/AsciiCase.h"
#include "base/GbkText.h"
#include "tools/SectionedText.h"

#include <cstring>
#include <string>

namespace kestrel {

// Where a key's text goes in the record and which sections may give it.
struct CCatalogueParser::KeyRule {
    CatalogueField field;
    std::size_t offset;
    std::size_t width;
    bool inHome;
    bool inLink;
};

namespace {

constexpr int kNameKey = 0;
constexpr int kUrlKey = 2;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

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
        if (!ParseLine(TrimmedBlanks(line)))
            return false;
    }
    if (!CloseSection())
        return false;
    if (records.count == 0)
        return Fail(CatalogueRule::NothingToAnnounce, 0);
    return true;
}

bool CCatalogueParser::ParseLine(std::string_view line)
{
    if (line.empty() || line.front() == '#' || line.front() == ';')
        return true;
    if (line.front() == '[') {
        if (line.back() != ']')
            return Fail(CatalogueRule::SectionNotClosed, m_line);
        return OpenSection(TrimmedBlanks(line.substr(1, line.size() - 2)));
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return Fail(CatalogueRule::NotKeyValue, m_line);
    return SetKey(TrimmedBlanks(line.substr(0, equals)), TrimmedBlanks(line.substr(equals + 1)));
}

bool CCatalogueParser::OpenSection(std::string_view name)
{
    if (!CloseSection())
        return false;
    const std::string section = FoldedAscii(name);
    if (section == "home") {
        m_section = CatalogueSection::Home;
        if (m_homeLine != 0) {
            Found(CatalogueRule::SecondHome, m_line).firstLine = m_homeLine;
            return false;
        }
        m_homeLine = m_line;
    } else if (section == "link") {
        m_section = CatalogueSection::Link;
        if (++m_linkCount > kMaxLinks) {
            Found(CatalogueRule::TooManyLinks, m_line).limit = kMaxLinks;
            return false;
        }
    } else {
        Found(CatalogueRule::UnknownSection, m_line).quoted = name;
        return false;
    }
    m_sectionLine = m_line;
    std::memset(m_keyLines, 0, sizeof m_keyLines);
    LinkRecord& record = m_records->records[m_records->count];
    record = LinkRecord();
    if (m_section == CatalogueSection::Home)
        std::memcpy(record.name, "home", 4);
    return true;
}

bool CCatalogueParser::CloseSection()
{
    if (m_section == CatalogueSection::None)
        return true;
    if (m_section == CatalogueSection::Home && m_keyLines[kUrlKey] == 0)
        return Fail(CatalogueRule::HomeWithoutUrl, m_sectionLine, CatalogueField::Url);
    if (m_section == CatalogueSection::Link && m_keyLines[kNameKey] == 0)
        return Fail(CatalogueRule::LinkWithoutName, m_sectionLine, CatalogueField::Name);
    m_nameLines[m_records->count] = m_section == CatalogueSection::Home ? m_sectionLine : m_keyLines[kNameKey];
    ++m_records->count;
    m_section = CatalogueSection::None;
    return true;
}

bool CCatalogueParser::SetKey(std::string_view key, std::string_view value)
{
    static const KeyRule kRules[kKeyCount] = {
        {CatalogueField::Name, offsetof(LinkRecord, name), sizeof LinkRecord::name, false, true},
        {CatalogueField::Caption, offsetof(LinkRecord, caption), sizeof LinkRecord::caption, false, true},
        {CatalogueField::Url, offsetof(LinkRecord, url), sizeof LinkRecord::url, true, true},
        {CatalogueField::Picture, offsetof(LinkRecord, hotPicture), sizeof LinkRecord::hotPicture, false, true},
        {CatalogueField::CoolPicture, offsetof(LinkRecord, coolPicture), sizeof LinkRecord::coolPicture, false, true},
    };
    if (m_section == CatalogueSection::None) {
        Found(CatalogueRule::KeyOutsideSection, m_line).quoted = key;
        return false;
    }

    const std::string lowerKey = FoldedAscii(key);
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyRule& rule = kRules[i];
        if (lowerKey != CatalogueKey(rule.field) || !(m_section == CatalogueSection::Home ? rule.inHome : rule.inLink))
            continue;
        if (m_keyLines[i] != 0) {
            Found(CatalogueRule::KeyGivenTwice, m_line, rule.field).firstLine = m_keyLines[i];
            return false;
        }
        m_keyLines[i] = m_line;
        return StoreText(rule, value) && (i != kNameKey || CheckNewName());
    }
    Found(CatalogueRule::UnknownKey, m_line).quoted = key;
    return false;
}

bool CCatalogueParser::StoreText(const KeyRule& rule, std::string_view value)
{
    if (HoldsControlCharacter(value))
        return Fail(CatalogueRule::ControlCharacter, m_line, rule.field);
    std::string gbk;
    std::size_t badOffset = 0;
    if (!Utf8ToGbk(value, gbk, &badOffset)) {
        const long code = DecodeUtf8At(value, badOffset);
        CatalogueProblem& problem
            = Found(code < 0 ? CatalogueRule::NotUtf8 : CatalogueRule::NoGbkForm, m_line, rule.field);
        if (code >= 0) {
            const std::size_t length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
            problem.quoted = value.substr(badOffset, length);
            problem.actual = code;
        }
        return false;
    }
    if (gbk.size() >= rule.width) {
        CatalogueProblem& problem = Found(CatalogueRule::TooLong, m_line, rule.field);
        problem.actual = static_cast<long>(gbk.size());
        problem.limit = static_cast<long>(rule.width - 1);
        return false;
    }
    auto* field = reinterpret_cast<char*>(&m_records->records[m_records->count]) + rule.offset;
    std::memcpy(field, gbk.data(), gbk.size());
    return true;
}

bool CCatalogueParser::CheckNewName()
{
    const LinkRecord& record = m_records->records[m_records->count];
    if (FieldText(record.name).empty())
        return Fail(CatalogueRule::EmptyName, m_line, CatalogueField::Name);
    if (IsHomeRecord(record))
        return Fail(CatalogueRule::NameKeptForHome, m_line, CatalogueField::Name);
    for (int i = 0; i < m_records->count; ++i) {
        if (LinkNamesEqual(FieldText(m_records->records[i].name), FieldText(record.name))) {
            CatalogueProblem& problem = Found(CatalogueRule::NameTaken, m_line, CatalogueField::Name);
            problem.quoted = GbkToUtf8(FieldText(record.name));
            problem.firstLine = m_nameLines[i];
            return false;
        }
    }
    return true;
}

CatalogueProblem& CCatalogueParser::Found(CatalogueRule rule, int line, CatalogueField field)
{
    *m_problem = CatalogueProblem();
    m_problem->rule = rule;
    m_problem->line = line;
    m_problem->field = field;
    m_problem->section = m_section;
    m_problem->link = m_section == CatalogueSection::Link ? m_linkCount - 1 : 0;
    return *m_problem;
}

bool CCatalogueParser::Fail(CatalogueRule rule, int line, CatalogueField field)
{
    Found(rule, line, field);
    return false;
}

} // namespace kestrel
