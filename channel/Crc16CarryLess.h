#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The CRC by carry-less multiplication (PCLMULQDQ), folding four 16-byte
// blocks at a time: many times the table speed on long runs.
constexpr std::size_t kCarryLessCrc16ShortestRun = 64;

// Whether this processor can run Crc16CarryLess.
bool CarryLessCrc16Supported();

// Continues from `crc` over at least kCarryLessCrc16ShortestRun bytes.
std::uint16_t Crc16CarryLess(std::uint16_t crc, const unsigned char* bytes, std::size_t count);

} // namespace kestrel
