#include "tools/HeardRecordText.h"

#include "base/GbkText.h"

namespace kestrel {

namespace {
void AppendField(std::string& line, std::string_view key, std::string_view gbk)
{
    line += ' ';
    line += key;
    line += "=\"";
    line += GbkToUtf8(gbk);
    line += '"';
}
} // namespace

std::string DescribeHeardRecord(const LinkRecord& record, std::string_view sender)
{
    std::string line = "from " + std::string(sender) + ":";
    AppendField(line, "name", FieldText(record.name));
    AppendField(line, "caption", FieldText(record.caption));
    AppendField(line, "url", FieldText(record.url));
    AppendField(line, "picture", FieldText(record.hotPicture));
    AppendField(line, "cool-picture", FieldText(record.coolPicture));
    return line;
}

} // namespace kestrel
