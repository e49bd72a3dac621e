#include "net/RequestLineEscaper.h"

#include "net/PercentEscape.h"

#include <cstring>

namespace kestrel {

namespace {

bool MayStandRaw(unsigned char byte)
{
    return byte > 0x20 && byte < 0x7F;
}

} // namespace

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
