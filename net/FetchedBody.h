#pragma once

#include "net/FetchLimits.h"

#include <cstddef>

namespace kestrel {

// The bytes of one fetched picture; size 0 means nothing usable came back.
struct FetchedBody {
    std::size_t size = 0;
    unsigned char bytes[kBodyBufferSize];
};

} // namespace kestrel
