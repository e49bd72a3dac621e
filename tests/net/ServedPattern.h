#pragma once

#include <cstddef>
#include <vector>

namespace kestrel {

// The first n bytes the test server sends as a body (byte i is i mod 251).
inline std::vector<unsigned char> ServedPattern(std::size_t n)
{
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    return bytes;
}

} // namespace kestrel
