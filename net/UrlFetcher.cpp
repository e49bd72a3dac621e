#include "net/UrlFetcher.h"

#include "net/FetchRequest.h"

namespace kestrel {

std::size_t CUrlFetcher::Fetch(const char* encodedUrl, unsigned char* buffer, std::size_t capacity)
{
    CFetchRequest request;
    if (!request.Prepare(encodedUrl, buffer, capacity))
        return 0;
    request.Ended(curl_easy_perform(request.Handle()));
    return request.Result();
}

} // namespace kestrel
