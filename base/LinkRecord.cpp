#include "base/LinkRecord.h"

#include "base/AsciiCase.h"

namespace kestrel {

bool LinkNamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i]))
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
        const char folded = FoldAsciiCase(name[i]);
        m_bytes[i] = folded;
        m_hash = (m_hash ^ static_cast<unsigned char>(folded)) * 16777619u;
    }
}

bool IsHomeRecord(const LinkRecord& record)
{
    return LinkNamesEqual(FieldText(record.name), "home");
}

} // namespace kestrel
