#include "net/UrlEncoding.h"

#include "base/GbkText.h"

#include <cstring>

namespace kestrel {

namespace {

constexpr unsigned char kFirstDoubleByte = 0x81;

// Writes "%" and two upper-case hex digits for one byte; returns the
// position after them.
char* AppendPercentEscape(char* out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out[0] = '%';
    out[1] = kHex[byte >> 4];
    out[2] = kHex[byte & 0x0F];
    return out + 3;
}

// The second byte is read only when the first is not the terminating NUL,
// and a NUL second byte fails the test.
bool IsDoubleBytePair(const char* at)
{
    return static_cast<unsigned char>(at[0]) >= kFirstDoubleByte
        && static_cast<unsigned char>(at[1]) >= kFirstDoubleByte;
}

bool MayStandRaw(unsigned char byte)
{
    return byte > 0x20 && byte < 0x7F;
}

} // namespace

bool EncodeUrl(const char* source, char (&output)[kEncodedUrlSize])
{
    std::memset(output, 0, sizeof output);
    // One descriptor for the whole URL, one character at a time.
    CGbkConverter converter(CGbkConverter::Direction::GbkToUtf8);
    if (source == nullptr || !converter.Ok())
        return false;

    char* out = output;
    char* const end = output + sizeof output - 1;
    for (const char* at = source; *at != '\0';) {
        char utf8[4];
        const std::size_t utf8Length = IsDoubleBytePair(at) ? converter.ConvertWhole({at, 2}, utf8, sizeof utf8) : 0;
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
            out = AppendPercentEscape(out, static_cast<unsigned char>(utf8[k]));
        at += 2;
    }
    return true;
}

bool EscapeForRequestLine(const char* url, char (&output)[kRequestUrlSize])
{
    std::memset(output, 0, sizeof output);
    if (url == nullptr || strnlen(url, kEncodedUrlSize) >= kEncodedUrlSize)
        return false;
    char* out = output;
    for (const char* at = url; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (MayStandRaw(byte))
            *out++ = *at;
        else
            out = AppendPercentEscape(out, byte);
    }
    return true;
}

} // namespace kestrel
