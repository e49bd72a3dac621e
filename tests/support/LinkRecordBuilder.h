#pragma once

#include "base/LinkRecord.h"

#include <cstring>
#include <string_view>

namespace kestrel::test {

// Builds link records field by field for tests.
class LinkRecordBuilder {
public:
    explicit LinkRecordBuilder(std::string_view name) { Set(m_record.name, name); }

    LinkRecordBuilder& Caption(std::string_view text) { return Set(m_record.caption, text); }
    LinkRecordBuilder& Url(std::string_view text) { return Set(m_record.url, text); }
    LinkRecordBuilder& HotPicture(std::string_view text) { return Set(m_record.hotPicture, text); }
    LinkRecordBuilder& CoolPicture(std::string_view text) { return Set(m_record.coolPicture, text); }
    LinkRecordBuilder& Reserved(unsigned char value)
    {
        m_record.reserved = value;
        return *this;
    }

    const LinkRecord& Build() const { return m_record; }
    operator const LinkRecord&() const { return m_record; }

private:
    // Texts that fill the whole field are kept without a NUL, as a careless
    // sender might send them.
    template <std::size_t N>
    LinkRecordBuilder& Set(char (&field)[N], std::string_view text)
    {
        std::memset(field, 0, N);
        std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
        return *this;
    }

    LinkRecord m_record = {};
};

} // namespace kestrel::test
