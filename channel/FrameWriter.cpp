#include "channel/FrameWriter.h"

#include "channel/Crc16.h"

#include <cstring>

namespace kestrel {

namespace {

void WriteLittleEndian(std::uint32_t value, std::size_t size, unsigned char* bytes)
{
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

void SealFrame(unsigned char type, unsigned char marker, std::uint32_t payloadLength, unsigned char* frame,
               std::uint16_t boundPort)
{
    std::memset(frame, kFrameSyncByte, kFrameSyncSize);
    std::memset(frame + kFrameTypeOffset, 0, kFrameCheckedHeaderBytes);
    frame[kFrameTypeOffset] = type;
    frame[kFrameMarkerOffset] = marker;
    WriteLittleEndian(boundPort, 2, frame + kFrameBoundPortOffset);
    WriteLittleEndian(payloadLength, 4, frame + kFrameLengthOffset);
    const std::uint16_t crc = Crc16(frame + kFrameCheckedOffset, kFrameCheckedHeaderBytes + payloadLength);
    WriteLittleEndian(crc, 2, frame + kFrameCheckOffset);
}

std::size_t WriteFrame(unsigned char type, unsigned char marker, const unsigned char* payload,
                       std::size_t payloadLength, unsigned char* frame, std::size_t capacity)
{
    if (payloadLength > kLargestFramePayload || capacity < kFrameHeaderSize + payloadLength)
        return 0;
    if (payloadLength > 0)
        std::memmove(frame + kFrameHeaderSize, payload, payloadLength);
    SealFrame(type, marker, static_cast<std::uint32_t>(payloadLength), frame);
    return kFrameHeaderSize + payloadLength;
}

} // namespace kestrel
