#include "publish/CatalogueEdit.h"

#include "base/AsciiCase.h"
#include "base/ClassroomState.h"
#include "base/GbkText.h"
#include "tools/CatalogueParser.h"
#include "tools/CatalogueProblem.h"
#include "tools/TimetableFile.h"

#include <algorithm>

namespace kestrel {
namespace {

bool IsWebAddress(const std::string& address)
{
    const std::string folded = FoldedAscii(address.substr(0, 8));
    return (folded.rfind("http://", 0) == 0 && address.size() > 7) || (folded == "https://" && address.size() > 8);
}

constexpr const char* kWebAddressRule = "地址要以 http:// 或 https:// 开头，例如 http://www.baidu.com";

bool HoldsLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// The line that carries the hosts in saved edits; the announcer reads it
// from a lesson set the timetable puts on the air.
constexpr const char* kHostsLine = kSavedHostsLead;

// The first entry of `hosts` that may not stand there, in a teacher's words.
std::string HostsProblem(const std::string& hosts)
{
    if (hosts.size() >= sizeof(ClassroomState::extraHosts))
        return "允许的网站太多：最多 " + std::to_string(sizeof(ClassroomState::extraHosts) - 1) + " 个字母";
    for (std::size_t start = 0; start < hosts.size();) {
        const std::size_t end = std::min(hosts.find(' ', start), hosts.size());
        const std::string entry = hosts.substr(start, end - start);
        if (entry.empty())
            return "网站之间只用一个空格隔开";
        if (!IsAllowedHostEntry(entry))
            return "“" + entry + "”不是网站名或 IP 地址，要写成小写，例如 www.baidu.com 或 192.168.1.10，不带 http:// 和 /";
        start = end + 1;
    }
    return "";
}

std::string LinkInChinese(std::size_t index)
{
    return "第 " + std::to_string(index + 1) + " 个链接：";
}

// The field's key in the page's edit, which writes the cool picture's as JSON does.
const char* FieldKey(CatalogueField field)
{
    return field == CatalogueField::CoolPicture ? "coolPicture" : CatalogueKey(field);
}

const char* FieldInChinese(CatalogueField field)
{
    switch (field) {
    case CatalogueField::Name:
        return "名称";
    case CatalogueField::Caption:
        return "说明";
    case CatalogueField::Url:
        return "地址";
    case CatalogueField::Picture:
    case CatalogueField::CoolPicture:
        return "图片";
    case CatalogueField::None:
        break;
    }
    return "文字";
}

// The catalogue reader's finding in the teacher's language. The reader
// keeps the rules; this only says them again in Chinese. Findings no edit
// can cause (a line that is not "key = value", say) stay in English.
std::string InChinese(const CatalogueProblem& problem)
{
    const std::string field = FieldInChinese(problem.field);
    switch (problem.rule) {
    case CatalogueRule::NoGbkForm:
        return field + "中的“" + problem.quoted + "”学生的电脑无法显示，请换一个字";
    case CatalogueRule::NotUtf8:
        return field + "不是有效的文字";
    case CatalogueRule::TooLong:
        // The pupils' encoding takes two bytes for a Chinese character, one
        // for a letter: the limit said the way a teacher counts.
        return field + "太长：最多 " + std::to_string(problem.limit / 2) + " 个汉字（字母和数字算半个）";
    case CatalogueRule::NameTaken:
        return "名称“" + problem.quoted + "”重复了";
    case CatalogueRule::NameKeptForHome:
        return "名称“home”留给首页";
    case CatalogueRule::TooManyLinks:
        return "链接太多：工具栏最多放 " + std::to_string(problem.limit) + " 个";
    case CatalogueRule::EmptyName:
    case CatalogueRule::LinkWithoutName:
        return "名称不能为空";
    case CatalogueRule::ControlCharacter:
        return field + "不能含控制字符";
    case CatalogueRule::NothingToAnnounce:
        return "目录是空的：至少要有首页或一个链接";
    default:
        return CatalogueProblemText(problem);
    }
}

std::string WhereInChinese(const CatalogueProblem& problem)
{
    switch (problem.section) {
    case CatalogueSection::Home:
        return "首页：";
    case CatalogueSection::Link:
        return LinkInChinese(static_cast<std::size_t>(problem.link));
    case CatalogueSection::None:
        break;
    }
    return "";
}

} // namespace

std::string CatalogueEditText(const CatalogueEdit& edit)
{
    std::string text;
    if (!edit.home.empty())
        text += "[home]\nurl = " + edit.home + "\n";
    for (const CatalogueEdit::Link& link : edit.links) {
        text += "[link]\nname = " + link.name + "\n";
        if (!link.caption.empty())
            text += "caption = " + link.caption + "\n";
        if (!link.url.empty())
            text += "url = " + link.url + "\n";
        if (!link.picture.empty())
            text += "picture = " + link.picture + "\n";
        if (!link.coolPicture.empty())
            text += "cool-picture = " + link.coolPicture + "\n";
    }
    return text;
}

std::string SavedEditText(const CatalogueEdit& edit)
{
    return (edit.hosts.empty() ? "" : kHostsLine + edit.hosts + "\n") + CatalogueEditText(edit);
}

std::string CheckCatalogueEdit(const CatalogueEdit& edit, EditPlace* place)
{
    EditPlace found;
    const auto at = [&](int link, const char* field, std::string text) {
        found = {link, field};
        return text;
    };
    std::string problem = [&]() -> std::string {
        if (!edit.home.empty() && !IsWebAddress(edit.home))
            return at(-1, "home", "首页：" + std::string(kWebAddressRule));
        if (HoldsLineBreak(edit.home))
            return at(-1, "home", "首页：地址不能换行");
        if (const std::string problem = HostsProblem(edit.hosts); !problem.empty())
            return at(-1, "hosts", "允许的网站：" + problem);
        for (std::size_t i = 0; i < edit.links.size(); ++i) {
            const CatalogueEdit::Link& link = edit.links[i];
            const int index = static_cast<int>(i);
            const std::string where = LinkInChinese(i);
            if (HoldsLineBreak(link.name) || HoldsLineBreak(link.caption) || HoldsLineBreak(link.url)
                || HoldsLineBreak(link.picture) || HoldsLineBreak(link.coolPicture))
                return at(index, "", where + "文字不能换行");
            if (link.name.empty())
                return at(index, "name", where + "名称不能为空");
            if (!link.url.empty() && !IsWebAddress(link.url))
                return at(index, "url", where + kWebAddressRule);
            if ((!link.picture.empty() && !IsWebAddress(link.picture))
                || (!link.coolPicture.empty() && !IsWebAddress(link.coolPicture)))
                return at(index, "picture", where + "图片" + kWebAddressRule);
        }
        // The text published is what the announcer will read, blanks
        // trimmed and all, so that text is what the rules are checked on.
        AnnouncedRecords records;
        CatalogueProblem parsed;
        CCatalogueParser parser;
        if (parser.Parse(CatalogueEditText(edit), records, parsed))
            return "";
        const bool home = parsed.section == CatalogueSection::Home;
        return at(parsed.section == CatalogueSection::Link ? parsed.link : -1, home ? "home" : FieldKey(parsed.field),
            WhereInChinese(parsed) + InChinese(parsed));
    }();
    if (place)
        *place = found;
    return problem;
}

bool ReadCatalogueEdit(const std::string& text, CatalogueEdit& edit)
{
    AnnouncedRecords records;
    CatalogueProblem problem;
    CCatalogueParser parser;
    edit = CatalogueEdit();
    if (!parser.Parse(text, records, problem))
        return false;
    const std::size_t hosts = text.rfind(kHostsLine, 0) == 0 ? 0 : text.find(std::string("\n") + kHostsLine);
    if (hosts != std::string::npos) {
        const std::size_t start = text.find(kHostsLine, hosts);
        const std::size_t lead = std::char_traits<char>::length(kHostsLine);
        edit.hosts = text.substr(start + lead, text.find('\n', start) - start - lead);
    }
    for (int i = 0; i < records.count; ++i) {
        const LinkRecord& record = records.records[i];
        if (IsHomeRecord(record)) {
            edit.home = GbkToUtf8(FieldText(record.url));
            continue;
        }
        edit.links.push_back({GbkToUtf8(FieldText(record.name)), GbkToUtf8(FieldText(record.caption)),
            GbkToUtf8(FieldText(record.url)), GbkToUtf8(FieldText(record.hotPicture)),
            GbkToUtf8(FieldText(record.coolPicture))});
    }
    return true;
}

} // namespace kestrel
