#include "channel/Crc16Table.h"

#include "channel/Crc16.h"

namespace kestrel {

namespace {

constexpr int kSliceBytes = 16;

// entry[k][b]: the register after byte b followed by k zero bytes, from a
// zero register. One step XORs sixteen independent look-ups.
struct SlicingTables {
    std::uint16_t entry[kSliceBytes][256];
};

constexpr SlicingTables MakeSlicingTables()
{
    SlicingTables tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ kCrc16Polynomial : crc << 1;
        tables.entry[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (int k = 1; k < kSliceBytes; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const std::uint16_t previous = tables.entry[k - 1][byte];
            tables.entry[k][byte] = static_cast<std::uint16_t>((previous << 8) ^ tables.entry[0][previous >> 8]);
        }
    }
    return tables;
}

constexpr SlicingTables kTables = MakeSlicingTables();

} // namespace

std::uint16_t Crc16ByTable(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    const auto& t = kTables.entry;
    while (count >= kSliceBytes) {
        unsigned next = t[kSliceBytes - 1][bytes[0] ^ (crc >> 8)] ^ t[kSliceBytes - 2][bytes[1] ^ (crc & 0xFF)];
#pragma GCC unroll 16
        for (int i = 2; i < kSliceBytes; ++i)
            next ^= t[kSliceBytes - 1 - i][bytes[i]];
        crc = static_cast<std::uint16_t>(next);
        bytes += kSliceBytes;
        count -= kSliceBytes;
    }
    for (; count > 0; --count, ++bytes)
        crc = static_cast<std::uint16_t>((crc << 8) ^ t[0][(crc >> 8) ^ *bytes]);
    return crc;
}

} // namespace kestrel
