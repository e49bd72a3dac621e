#pragma once

#include <chrono>
#include <cstdint>

namespace kestrel {

// Milliseconds of the steady clock: the time the channel's rate limits and
// the screens' reports go by.
inline std::int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace kestrel
