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
        const int next = sectionLine + 2 + !link.caption.empty() + !link.url.empty() + !link.picture.empty()
            + !link.coolPicture.empty();
        if (line < next)
            return "第 " + std::to_string(i + 1) + " 个链接：";
        sectionLine = next;
    }
    return "";
}

const char* FieldName(const std::string& text)
{
    for (const auto& [key, name] : {std::pair{"cool-picture", "图片"}, std::pair{"caption", "说明"},
             std::pair{"picture", "图片"}, std::pair{"name", "名称"}, std::pair{"url", "地址"}}) {
        if (text.rfind(key, 0) == 0)
            return name;
    }
    return "文字";
}

// The catalogue reader's problem in the teacher's language. The reader
// keeps the rules; this only says its findings again in Chinese.
std::string InChinese(const std::string& text)
{
    const std::size_t quote = text.find('"');
    const std::size_t close = quote == std::string::npos ? quote : text.find('"', quote + 1);
    const std::string quoted = close == std::string::npos ? "" : text.substr(quote + 1, close - quote - 1);
    if (text.find("has no GBK form") != std::string::npos)
        return std::string(FieldName(text)) + "中的“" + quoted + "”没有 GBK 编码，学生的浏览器无法显示，请换一个字";
    if (text.find("not valid UTF-8") != std::string::npos)
        return std::string(FieldName(text)) + "不是有效的文字";
    const std::size_t bytes = text.find(" bytes in GBK; at most ");
    if (bytes != std::string::npos) {
        const std::size_t is = text.find(" is ");
        return std::string(FieldName(text)) + "太长：" + text.substr(is + 4, bytes - is - 4) + " 字节，最多 "
            + text.substr(bytes + 23, text.find(' ', bytes + 23) - bytes - 23) + " 字节（汉字每个 2 字节）";
    }
    if (text.find("is already used") != std::string::npos)
        return "名称“" + quoted + "”重复了";
    if (text.find("kept for the [home] section") != std::string::npos)
        return "名称“home”留给首页";
    if (text.find("more than 20 links") != std::string::npos)
        return "链接太多：工具栏最多放 20 个";
    if (text.find("name is empty") != std::string::npos || text.find("has no name") != std::string::npos)
        return "名称不能为空";
    if (text.find("control character") != std::string::npos)
        return std::string(FieldName(text)) + "不能含控制字符";
    if (text.find("nothing to announce") != std::string::npos)
        return "目录是空的：至少要有首页或一个链接";
    return text;
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
            || HoldsLineBreak(link.picture) || HoldsLineBreak(link.coolPicture))
            return where + "文字不能换行";
        if (link.name.empty())
            return where + "名称不能为空";
        if ((!link.url.empty() && !IsWebAddress(link.url)) || (!link.picture.empty() && !IsWebAddress(link.picture))
            || (!link.coolPicture.empty() && !IsWebAddress(link.coolPicture)))
            return where + "地址必须以 http:// 或 https:// 开头";
    }
    AnnouncedRecords records;
    CatalogueProblem problem;
    CCatalogueParser parser;
    if (parser.Parse(CatalogueEditText(edit), records, problem))
        return "";
    if (problem.line == 0)
        return InChinese(problem.text);
    return WhereLineIs(edit, problem.line) + InChinese(problem.text);
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
            GbkToUtf8(FieldText(record.url)), GbkToUtf8(FieldText(record.hotPicture)),
            GbkToUtf8(FieldText(record.coolPicture))});
    }
    return true;
}

} // namespace kestrel
