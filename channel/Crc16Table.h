#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The CRC by tables, sixteen bytes per step (slicing-by-16): the portable way
// and the quickest for short runs. Continues from `crc`, the register so far.
std::uint16_t Crc16ByTable(std::uint16_t crc, const unsigned char* bytes, std::size_t count);

} // namespace kestrel
