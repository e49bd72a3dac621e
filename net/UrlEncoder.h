#pragma once

#include "net/FetchLimits.h"

namespace kestrel {

// Turns the double-byte characters of a code page 936 URL into
// percent-escaped UTF-8 with upper-case hex digits; every other byte is
// copied as it is. False, with an empty output, when the source is missing,
// the conversion cannot be set up, or the encoding does not fit 519
// characters.
bool EncodeUrl(const char* source, char (&output)[kEncodedUrlSize]);

} // namespace kestrel
