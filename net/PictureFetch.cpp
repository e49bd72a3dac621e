#include "net/PictureFetch.h"

#include "net/FetchBatch.h"
#include "net/FetchRequest.h"
#include "net/UrlEncoder.h"
#include "net/UrlFetcher.h"
#include "net/WholeFileWriter.h"

#include <vector>

namespace kestrel {

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
    return path == nullptr || WriteWholeFile(path, body.bytes, body.size);
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
