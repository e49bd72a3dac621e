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

LinkNameKey::LinkNameKey(std::string_view name)
{
    // FNV-1a over the folded bytes.
    m_length = name.size() < sizeof m_bytes ? name.size() : sizeof m_bytes;
    m_hash = 2166136261u;
    for (std::size_t i = 0; i < m_length; ++i) {
        const unsigned char folded = FoldAsciiLetter(static_cast<unsigned char>(name[i]));
        m_bytes[i] = static_cast<char>(folded);
        m_hash = (m_hash ^ folded) * 16777619u;
    }
}

bool IsHomeRecord(const LinkRecord& record)
{
    return LinkNamesEqual(FieldText(record.name), "home");
}

} // namespace kestrel
