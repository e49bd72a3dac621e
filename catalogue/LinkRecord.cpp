#include "catalogue/LinkRecord.h"

namespace kestrel {

namespace {
unsigned char FoldAsciiLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
} // namespace

bool LinkNamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiLetter(static_cast<unsigned char>(a[i])) != FoldAsciiLetter(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool IsHomeRecord(const LinkRecord& record)
{
    return LinkNamesEqual(FieldText(record.name), "home");
}

} // namespace kestrel
