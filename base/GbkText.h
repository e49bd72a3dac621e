#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Link records and the settings file carry code page 936 (GBK) text; the
// screen and the announcer's catalogue files speak UTF-8.

// Decodes GBK for display. Bytes that are not GBK each become U+FFFD, so a
// damaged record still shows what can be read of it.
std::string GbkToUtf8(std::string_view gbk);

// Encodes UTF-8 as GBK. False when the text is not valid UTF-8 or holds a
// character GBK has no form for; `badOffset` then names the first such byte.
bool Utf8ToGbk(std::string_view utf8, std::string& gbk, std::size_t* badOffset = nullptr);

// One conversion between GBK and UTF-8, set up once for many calls (glibc
// iconv, where "CP936" names GBK).
class CGbkConverter {
public:
    enum class Direction { GbkToUtf8, Utf8ToGbk };

    explicit CGbkConverter(Direction direction);
    ~CGbkConverter();
    CGbkConverter(const CGbkConverter&) = delete;
    CGbkConverter& operator=(const CGbkConverter&) = delete;

    // False when the system cannot convert between the two at all.
    bool Ok() const;

    // Appends to `out` as much of `in` as converts; returns how many bytes
    // of `in` went through (all of them, or up to the first that cannot).
    std::size_t Convert(std::string_view in, std::string& out);

    // Converts all of `in` into `out` with nothing left over from earlier
    // calls; returns the bytes written, or 0 when `in` does not convert
    // whole or its conversion does not fit `capacity`.
    std::size_t ConvertWhole(std::string_view in, char* out, std::size_t capacity);

private:
    void* m_cd;
};

} // namespace kestrel
