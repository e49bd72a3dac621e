#pragma once

#include "net/FetchedBody.h"

#include <cstddef>

namespace kestrel {

// Picture fetches by the URLs of link records (code page 936 text). Each one
// encodes the URL, then makes one GET that keeps at most 8191 body bytes.

// True when a usable body came back; body then holds it.
bool FetchUrl(const char* url, FetchedBody& body);

// True when a usable body came back and, when a path is given, was written
// to that file whole. Nothing is created or changed when the result is false.
bool FetchUrlToFile(const char* url, const char* path);

// Fetches count URLs at once and returns when all have ended; bodies[i]
// answers urls[i], with size 0 where that fetch failed.
void FetchUrls(const char* const urls[], FetchedBody bodies[], std::size_t count);

} // namespace kestrel
