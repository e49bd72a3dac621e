#pragma once

#include <cstddef>

namespace kestrel {

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

} // namespace kestrel
