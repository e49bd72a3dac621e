#pragma once

#include "net/FetchLimits.h"

namespace kestrel {

// Percent-escapes the bytes that may not stand raw in an HTTP request line
// (spaces, control bytes, bytes of 0x80 and up); "%" sequences and reserved
// characters stay as they are, so the URL keeps its meaning. False, with an
// empty output, when the URL is missing or longer than 519 characters.
bool EscapeForRequestLine(const char* url, char (&output)[kRequestUrlSize]);

} // namespace kestrel
