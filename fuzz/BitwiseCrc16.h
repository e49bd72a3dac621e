#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrel::fuzz {

// CRC-16/CCITT-FALSE straight from its definition, one bit at a time, put
// into one 256-entry table so that long frames stay quick: the yardstick the
// channel's sliced and carry-less versions must agree with.
inline std::uint16_t BitwiseCrc16(const unsigned char* bytes, std::size_t count)
{
    static const std::array<std::uint16_t, 256> table = [] {
        std::array<std::uint16_t, 256> entries{};
        for (unsigned byte = 0; byte < 256; ++byte) {
            std::uint16_t crc = static_cast<std::uint16_t>(byte << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            entries[byte] = crc;
        }
        return entries;
    }();
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[(crc >> 8) ^ bytes[i]]);
    return crc;
}

} // namespace kestrel::fuzz
