#include "net/UrlEncoder.h"

#include "net/PercentEscape.h"

#include <cstring>
#include <iconv.h>

namespace kestrel {

namespace {

constexpr unsigned char kFirstDoubleByte = 0x81;

// One code page 936 to UTF-8 descriptor for the length of one URL.
class CCp936PairConverter {
public:
    CCp936PairConverter() : m_cd(iconv_open("UTF-8", "CP936")) {}
    ~CCp936PairConverter()
    {
        if (Ok())
            iconv_close(m_cd);
    }
    CCp936PairConverter(const CCp936PairConverter&) = delete;
    CCp936PairConverter& operator=(const CCp936PairConverter&) = delete;

    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts one double-byte character; returns its UTF-8 length (at most
    // four bytes), or 0 when the pair is no character of the code page.
    std::size_t Convert(const char* pair, unsigned char (&utf8)[4])
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(pair);
        std::size_t inLeft = 2;
        char* out = reinterpret_cast<char*>(utf8);
        std::size_t outLeft = sizeof utf8;
        if (iconv(m_cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return 0;
        return sizeof utf8 - outLeft;
    }

private:
    iconv_t m_cd;
};

// The second byte is read only when the first is not the terminating NUL,
// and a NUL second byte fails the test.
bool IsDoubleBytePair(const char* at)
{
    return static_cast<unsigned char>(at[0]) >= kFirstDoubleByte
        && static_cast<unsigned char>(at[1]) >= kFirstDoubleByte;
}

} // namespace

bool EncodeUrl(const char* source, char (&output)[kEncodedUrlSize])
{
    std::memset(output, 0, sizeof output);
    CCp936PairConverter converter;
    if (source == nullptr || !converter.Ok())
        return false;

    char* out = output;
    char* const end = output + sizeof output - 1;
    for (const char* at = source; *at != '\0';) {
        unsigned char utf8[4];
        const std::size_t utf8Length = IsDoubleBytePair(at) ? converter.Convert(at, utf8) : 0;
        const std::size_t needed = utf8Length == 0 ? 1 : 3 * utf8Length;
        if (needed > static_cast<std::size_t>(end - out)) {
            // A cut URL would fetch some other address: refuse it whole.
            std::memset(output, 0, sizeof output);
            return false;
        }
        if (utf8Length == 0) {
            *out++ = *at++;
            continue;
        }
        for (std::size_t k = 0; k < utf8Length; ++k)
            out = AppendPercentEscape(out, utf8[k]);
        at += 2;
    }
    return true;
}

} // namespace kestrel
