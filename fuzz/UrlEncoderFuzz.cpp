// EncodeUrl on arbitrary bytes, the input taken as a NUL-terminated picture
// address, with its 520-byte output ending at an inaccessible page. The
// output is always a NUL-terminated string inside the buffer, all zero when
// refused, and fit for a request line once escaped. For an address of ASCII
// and double-byte characters (both bytes 0x81 or more, no "%" among the
// ASCII), it is refused exactly when its encoding would not fit 519
// characters; otherwise it is ASCII only, and undoing the escapes gives the
// address's own UTF-8 text.
#include "base/GbkText.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/GuardedBuffer.h"
#include "net/FetchLimits.h"
#include "net/UrlEncoding.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using kestrel::kEncodedUrlSize;
using kestrel::fuzz::Require;

// ASCII without "%", and pairs of bytes that are both 0x81 or more: the
// addresses whose every double-byte character gets escaped.
bool EscapableAddress(std::string_view url)
{
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto byte = static_cast<unsigned char>(url[i]);
        if (byte == '%' || byte == 0x80)
            return false;
        if (byte > 0x80) {
            if (i + 1 == url.size() || static_cast<unsigned char>(url[i + 1]) < 0x81)
                return false;
            ++i;
        }
    }
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes behind "%XX" escapes; nothing when an escape is malformed.
bool Unescape(std::string_view encoded, std::string& bytes)
{
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            bytes.push_back(encoded[i]);
            continue;
        }
        if (i + 2 >= encoded.size() || HexValue(encoded[i + 1]) < 0 || HexValue(encoded[i + 2]) < 0)
            return false;
        bytes.push_back(static_cast<char>(HexValue(encoded[i + 1]) * 16 + HexValue(encoded[i + 2])));
        i += 2;
    }
    return true;
}

std::size_t EncodedLength(std::string_view utf8)
{
    std::size_t length = 0;
    for (const char c : utf8)
        length += static_cast<unsigned char>(c) < 0x80 ? 1 : 3;
    return length;
}

void RequireFitForTheRequestLine(const char* encoded)
{
    static char requestUrl[kestrel::kRequestUrlSize];
    Require(kestrel::EscapeForRequestLine(encoded, requestUrl), "an encoded address can always be escaped");
    for (const char* at = requestUrl; *at != '\0'; ++at)
        Require(*at > 0x20 && *at < 0x7F, "an escaped address is printable ASCII");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static kestrel::fuzz::GuardedBuffer<kEncodedUrlSize> guarded;
    char (&output)[kEncodedUrlSize] = guarded.Bytes();
    std::memset(output, 0x5A, sizeof output);

    const std::string source(reinterpret_cast<const char*>(data), size);
    const std::string_view url(source.c_str());
    const bool encoded = kestrel::EncodeUrl(source.c_str(), output);

    const void* terminator = std::memchr(output, '\0', sizeof output);
    Require(terminator != nullptr, "the output is NUL-terminated inside its buffer");
    const std::string_view result(output);
    if (!encoded) {
        for (const char byte : output)
            Require(byte == '\0', "a refused address leaves an empty output");
    } else {
        RequireFitForTheRequestLine(output);
    }

    if (!EscapableAddress(url))
        return 0;
    const std::string utf8 = kestrel::GbkToUtf8(url);
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos)
        return 0; // a pair that is no character stays raw
    Require(encoded == (EncodedLength(utf8) < kEncodedUrlSize), "refused exactly when the encoding does not fit");
    if (!encoded)
        return 0;
    for (const char byte : result)
        Require(static_cast<unsigned char>(byte) < 0x80, "an address of double-byte characters encodes to ASCII");
    std::string unescaped;
    Require(Unescape(result, unescaped) && unescaped == utf8, "undoing the escapes gives the address's UTF-8 text");
    return 0;
}
