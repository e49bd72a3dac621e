#include "net/PictureFetch.h"

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"
#include "net/FetchBatch.h"
#include "net/FetchRequest.h"
#include "net/UrlEncoding.h"

#include <cstring>
#include <string>
#include <vector>

namespace kestrel {

std::size_t CUrlFetcher::Fetch(const char* encodedUrl, unsigned char* buffer, std::size_t capacity)
{
    CFetchRequest request;
    if (!request.Prepare(encodedUrl, buffer, capacity))
        return 0;
    request.Ended(curl_easy_perform(request.Handle()));
    return request.Result();
}

bool FetchUrl(const char* url, FetchedBody& body)
{
    char encoded[kEncodedUrlSize];
    body.size = EncodeUrl(url, encoded) ? CUrlFetcher().Fetch(encoded, body.bytes, kBodyCapacity) : 0;
    return body.size != 0;
}

bool FetchUrlToFile(const char* url, const char* path)
{
    FetchedBody body;
    if (!FetchUrl(url, body))
        return false;
    if (path == nullptr)
        return true;
    const int error = ReplaceWholeFile(path, {reinterpret_cast<const char*>(body.bytes), body.size});
    if (error != 0)
        PrintLine(std::string("Cannot write ") + path + ": " + std::strerror(error));
    return error == 0;
}

void FetchUrls(const char* const urls[], FetchedBody bodies[], std::size_t count)
{
    std::vector<CFetchRequest> requests(count);
    CFetchBatch batch;
    for (std::size_t i = 0; i < count; ++i) {
        char encoded[kEncodedUrlSize];
        if (EncodeUrl(urls[i], encoded) && requests[i].Prepare(encoded, bodies[i].bytes, kBodyCapacity))
            batch.Add(requests[i]);
    }
    batch.Run();
    for (std::size_t i = 0; i < count; ++i)
        bodies[i].size = requests[i].Result();
}

} // namespace kestrel
