#include "net/FetchRequest.h"

#include "net/FetchLimits.h"
#include "net/UrlEncoding.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <strings.h>

namespace kestrel {

namespace {

constexpr char kLengthHeader[] = "Content-Length:";
constexpr std::size_t kLengthHeaderSize = sizeof kLengthHeader - 1;
constexpr char kStatusLinePrefix[] = "HTTP/";

// libcurl would guess "http://" for a URL without a scheme; such a URL is
// refused instead, as the link records always carry full URLs.
bool IsAbsoluteUrl(const char* url)
{
    CURLU* parsed = curl_url();
    const bool absolute = parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK;
    curl_url_cleanup(parsed);
    return absolute;
}

// Reads the header value as a signed decimal number: blanks, an optional
// sign, digits; no digits reads as 0, too many digits as the largest value.
long long ParseLength(const char* at, const char* end)
{
    while (at < end && (*at == ' ' || *at == '\t'))
        ++at;
    const bool negative = at < end && *at == '-';
    if (at < end && (*at == '-' || *at == '+'))
        ++at;
    long long value = 0;
    for (; at < end && *at >= '0' && *at <= '9'; ++at)
        value = value > (LLONG_MAX - 9) / 10 ? LLONG_MAX : value * 10 + (*at - '0');
    return negative ? -value : value;
}

} // namespace

CFetchRequest::~CFetchRequest()
{
    curl_easy_cleanup(m_curl);
}

bool CFetchRequest::Prepare(const char* encodedUrl, unsigned char* buffer, std::size_t capacity)
{
    char requestUrl[kRequestUrlSize];
    if (m_curl != nullptr || buffer == nullptr || capacity == 0 || !EscapeForRequestLine(encodedUrl, requestUrl)
        || !IsAbsoluteUrl(requestUrl))
        return false;
    m_curl = curl_easy_init();
    if (m_curl == nullptr)
        return false;
    m_buffer = buffer;
    m_capacity = capacity;

    // Each option matters (the protocol gate above all), so a refused one
    // refuses the request.
    CURLcode failed = CURLE_OK;
    const auto set = [this, &failed](CURLoption option, auto value) {
        const CURLcode code = curl_easy_setopt(m_curl, option, value);
        if (code != CURLE_OK)
            failed = code;
    };
    set(CURLOPT_URL, requestUrl);
    set(CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    set(CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_USERAGENT, kUserAgent);
    set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    set(CURLOPT_TIMEOUT_MS, kRequestTimeoutMs);
    set(CURLOPT_NOSIGNAL, 1L);
    // One request per connection: a batch must not hold a small server's
    // workers on idle kept-alive connections while its other requests wait.
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_HEADERFUNCTION, &CFetchRequest::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &CFetchRequest::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_PRIVATE, this);
    return failed == CURLE_OK;
}

std::size_t CFetchRequest::Result() const
{
    const bool bodyEnded = m_code == CURLE_OK || (m_code == CURLE_WRITE_ERROR && m_bFull);
    return bodyEnded && LengthAccepted() ? m_held : 0;
}

bool CFetchRequest::LengthAccepted() const
{
    return m_bHasLength && m_declaredLength >= kMinBodyLength;
}

std::size_t CFetchRequest::OnHeader(char* line, std::size_t size, std::size_t count, void* self)
{
    auto& request = *static_cast<CFetchRequest*>(self);
    const std::size_t length = size * count;
    if (length >= sizeof kStatusLinePrefix - 1 && std::memcmp(line, kStatusLinePrefix, sizeof kStatusLinePrefix - 1) == 0)
        request.m_bHasLength = false;
    else if (length >= kLengthHeaderSize && strncasecmp(line, kLengthHeader, kLengthHeaderSize) == 0) {
        request.m_bHasLength = true;
        request.m_declaredLength = ParseLength(line + kLengthHeaderSize, line + length);
    }
    return length;
}

std::size_t CFetchRequest::OnBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto& request = *static_cast<CFetchRequest*>(self);
    // No usable length: the body would not count, so it is not read at all.
    if (!request.LengthAccepted())
        return 0;
    const std::size_t length = size * count;
    const std::size_t taken = std::min(length, request.m_capacity - request.m_held);
    std::memcpy(request.m_buffer + request.m_held, data, taken);
    request.m_held += taken;
    if (request.m_held < request.m_capacity)
        return length;
    // Full: stop the transfer, what is held is the body.
    request.m_bFull = true;
    return 0;
}

} // namespace kestrel
