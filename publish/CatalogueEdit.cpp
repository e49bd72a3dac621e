#include "publish/CatalogueEdit.h"

#include "base/AsciiCase.h"
#include "base/GbkText.h"
#include "tools/CatalogueParser.h"

namespace kestrel {
namespace {

bool IsWebAddress(const std::string& address)
{
    const std::string folded = FoldedAscii(address.substr(0, 8));
    return (folded.rfind("http://", 0) == 0 && address.size() > 7) || (folded == "https://" && address.size() > 8);
}

bool HoldsLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Where each link's section starts in CatalogueEditText, to name the link
// that a problem's line lies in.
std::string WhereLineIs(const CatalogueEdit& edit, int line)
{
    int sectionLine = edit.home.empty() ? 1 : 3;
    if (line < sectionLine)
        return "首页：";
    for (std::size_t i = 0; i < edit.links.size(); ++i) {
        const CatalogueEdit::Link& link = edit.links[i];
        const int next = sectionLine + 2 + !link.caption.empty() + !link.url.empty() + !link.picture.empty();
        if (line < next)
            return "第 " + std::to_string(i + 1) + " 个链接：";
        sectionLine = next;
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
    }
    return text;
}

std::string CheckCatalogueEdit(const CatalogueEdit& edit)
{
    if (!edit.home.empty() && !IsWebAddress(edit.home))
        return "首页：地址必须以 http:// 或 https:// 开头";
    if (HoldsLineBreak(edit.home))
        return "首页：地址不能换行";
    for (std::size_t i = 0; i < edit.links.size(); ++i) {
        const CatalogueEdit::Link& link = edit.links[i];
        const std::string where = "第 " + std::to_string(i + 1) + " 个链接：";
        if (HoldsLineBreak(link.name) || HoldsLineBreak(link.caption) || HoldsLineBreak(link.url)
            || HoldsLineBreak(link.picture))
            return where + "文字不能换行";
        if (link.name.empty())
            return where + "名称不能为空";
        if ((!link.url.empty() && !IsWebAddress(link.url)) || (!link.picture.empty() && !IsWebAddress(link.picture)))
            return where + "地址必须以 http:// 或 https:// 开头";
    }
    AnnouncedRecords records;
    CatalogueProblem problem;
    CCatalogueParser parser;
    if (parser.Parse(CatalogueEditText(edit), records, problem))
        return "";
    if (problem.line == 0)
        return "目录有误：" + problem.text;
    return WhereLineIs(edit, problem.line) + problem.text;
}

bool ReadCatalogueEdit(const std::string& text, CatalogueEdit& edit)
{
    AnnouncedRecords records;
    CatalogueProblem problem;
    CCatalogueParser parser;
    edit = CatalogueEdit();
    if (!parser.Parse(text, records, problem))
        return false;
    for (int i = 0; i < records.count; ++i) {
        const LinkRecord& record = records.records[i];
        if (IsHomeRecord(record)) {
            edit.home = GbkToUtf8(FieldText(record.url));
            continue;
        }
        edit.links.push_back({GbkToUtf8(FieldText(record.name)), GbkToUtf8(FieldText(record.caption)),
            GbkToUtf8(FieldText(record.url)), GbkToUtf8(FieldText(record.hotPicture))});
    }
    return true;
}

} // namespace kestrel
