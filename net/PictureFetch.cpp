#include "net/PictureFetch.h"

#include "net/UrlEncoder.h"
#include "net/UrlFetcher.h"
#include "net/WholeFileWriter.h"

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

} // namespace kestrel
