#pragma once

#include "channel/FrameFormat.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

// One checked frame, header and payload, lent in place from the reassembly
// buffer: valid only while the frame handler runs. The handler may change
// the payload bytes.
class FrameView {
public:
    FrameView(unsigned char* bytes, std::size_t size) : m_bytes(bytes), m_size(size) {}

    unsigned char* Bytes() const { return m_bytes; }
    std::size_t Size() const { return m_size; }

    unsigned char Type() const { return m_bytes[kFrameTypeOffset]; }
    unsigned char Marker() const { return m_bytes[kFrameMarkerOffset]; }
    // The channel port a signed frame is bound to; 0: none.
    std::uint16_t BoundPort() const { return ReadLittleEndian16(m_bytes + kFrameBoundPortOffset); }
    std::uint32_t PayloadLength() const { return ReadLittleEndian32(m_bytes + kFrameLengthOffset); }
    unsigned char* Payload() const { return m_bytes + kFrameHeaderSize; }

private:
    unsigned char* m_bytes;
    std::size_t m_size;
};

} // namespace kestrel
