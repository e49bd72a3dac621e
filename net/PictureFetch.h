#pragma once

#include "net/FetchLimits.h"

#include <cstddef>

namespace kestrel {

// Picture fetches by the URLs of link records (code page 936 text). Each one
// encodes the URL, then makes one GET that keeps at most 8191 body bytes.

// The bytes of one fetched picture; size 0 means nothing usable came back.
struct FetchedBody {
    std::size_t size = 0;
    unsigned char bytes[kBodyBufferSize];
};

// Fetches one encoded URL with one HTTP GET on the calling thread.
class CUrlFetcher {
public:
    // Places at most capacity body bytes in buffer and returns their count;
    // 0 when the URL cannot be fetched, the answer has no length header or
    // one below 1000 (or a negative one), or the transfer fails or runs out
    // of time. The HTTP status is not looked at: an error page with a long
    // enough length header counts as a body.
    std::size_t Fetch(const char* encodedUrl, unsigned char* buffer, std::size_t capacity);
};

// True when a usable body came back; body then holds it.
bool FetchUrl(const char* url, FetchedBody& body);

// True when a usable body came back and, when a path is given, was written
// to that file whole. Nothing is created or changed when the result is false.
bool FetchUrlToFile(const char* url, const char* path);

// Fetches count URLs at once and returns when all have ended; bodies[i]
// answers urls[i], with size 0 where that fetch failed.
void FetchUrls(const char* const urls[], FetchedBody bodies[], std::size_t count);

} // namespace kestrel
