#include "channel/Crc16.h"

#include "channel/Crc16CarryLess.h"
#include "channel/Crc16Table.h"

namespace kestrel {

std::uint16_t Crc16(const unsigned char* bytes, std::size_t count)
{
    static const bool carryLess = CarryLessCrc16Supported();
    static const bool wide = WideCarryLessCrc16Supported();
    if (wide && count >= kWideCarryLessCrc16ShortestRun)
        return Crc16CarryLessWide(kCrc16Start, bytes, count);
    if (carryLess && count >= kCarryLessCrc16ShortestRun)
        return Crc16CarryLess(kCrc16Start, bytes, count);
    return Crc16ByTable(kCrc16Start, bytes, count);
}

} // namespace kestrel
