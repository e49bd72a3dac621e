#pragma once

#include "net/FetchLimits.h"

namespace kestrel {

// The two rewrites a picture address goes through before it is fetched.

// Turns the double-byte characters of a code page 936 URL into
// percent-escaped UTF-8 with upper-case hex digits; every other byte is
// copied as it is. False, with an empty output, when the source is missing,
// the conversion cannot be set up, or the encoding does not fit 519
// characters.
bool EncodeUrl(const char* source, char (&output)[kEncodedUrlSize]);

// Percent-escapes the bytes that may not stand raw in an HTTP request line
// (spaces, control bytes, bytes of 0x80 and up); "%" sequences and reserved
// characters stay as they are, so the URL keeps its meaning. False, with an
// empty output, when the URL is missing or longer than 519 characters.
bool EscapeForRequestLine(const char* url, char (&output)[kRequestUrlSize]);

} // namespace kestrel
