#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::bench {

// The textbook CRC-16/CCITT-FALSE: one 256-entry table, one byte per step.
// The yardstick the channel's CRC is measured against.
struct ByteTable {
    std::uint16_t entry[256];
};

constexpr ByteTable MakeByteTable()
{
    ByteTable table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table.entry[byte] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

inline constexpr ByteTable kByteTable = MakeByteTable();

inline std::uint16_t TableCrc16(const unsigned char* bytes, std::size_t count)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kByteTable.entry[(crc >> 8) ^ bytes[i]]);
    return crc;
}

} // namespace kestrel::bench
