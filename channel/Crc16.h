#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The frame check value: CRC-16/CCITT-FALSE (polynomial 0x1021, start
// 0xFFFF, most significant bit first, no final XOR); "123456789" gives 0x29B1.
constexpr std::uint16_t kCrc16Polynomial = 0x1021;
constexpr std::uint16_t kCrc16Start = 0xFFFF;

// Every frame is checked whole, so this runs over each byte received: the
// long runs use carry-less multiplication where the processor has it.
std::uint16_t Crc16(const unsigned char* bytes, std::size_t count);

} // namespace kestrel
