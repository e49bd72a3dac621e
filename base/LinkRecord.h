#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kestrel {

// One link as the broadcaster sends it: a fixed 1153-byte block of
// NUL-terminated GBK texts. It travels whole through the frame, the
// received-record store and the catalogue, so it is a plain struct of bytes.
struct LinkRecord {
    unsigned char reserved;
    char name[128];
    char caption[256];
    char url[256];
    char hotPicture[256];
    char coolPicture[256];
};

constexpr std::size_t kLinkRecordSize = 1153;
static_assert(sizeof(LinkRecord) == kLinkRecordSize, "a link record is 1153 bytes on the wire");

// The window has room for twenty link buttons, so a catalogue holds at most
// twenty links and an announcer sends no more.
constexpr int kMaxLinks = 20;

// The text of a field: up to its NUL, or the whole field when the sender
// left no NUL in it. Never reads past the field.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != '\0')
        ++length;
    return std::string_view(field, length);
}

// Link names match byte for byte with the ASCII letters A-Z folded; every
// other byte, GBK lead bytes included, must be equal.
bool LinkNamesEqual(std::string_view a, std::string_view b);

// A link name with its ASCII letters folded once, so that many comparisons
// with it are plain byte comparisons: two names are one link exactly when
// their keys are equal. A hash of the folded bytes turns most unequal names
// away without reading them.
class LinkNameKey {
public:
    LinkNameKey() = default;
    explicit LinkNameKey(std::string_view name);

    bool Empty() const { return m_length == 0; }
    bool operator==(const LinkNameKey& other) const
    {
        return m_hash == other.m_hash && m_length == other.m_length && std::memcmp(m_bytes, other.m_bytes, m_length) == 0;
    }

private:
    // Only the first m_length bytes are ever read.
    char m_bytes[sizeof(LinkRecord::name)];
    std::size_t m_length = 0;
    std::uint32_t m_hash = 0;
};

// The record named "home" (any letter case) carries the home page.
bool IsHomeRecord(const LinkRecord& record);

} // namespace kestrel
