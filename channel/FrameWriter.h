#pragma once

#include "channel/FrameFormat.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Builds frames for the channel: the announcer sends them, the tests and
// benchmarks feed them to the receiver.

// Writes the 18-byte header, check value included, in front of a payload the
// caller has already placed at frame + kFrameHeaderSize. The length is not
// checked, so a frame the receiver refuses can be made on purpose.
// `boundPort` goes into bytes 8 and 9 (0: unbound).
void SealFrame(unsigned char type, unsigned char marker, std::uint32_t payloadLength, unsigned char* frame,
               std::uint16_t boundPort = 0);

// Copies the payload behind a new header. Returns the frame's size, or 0
// (nothing written) when the payload is longer than kLargestFramePayload or
// the frame does not fit into `capacity` bytes.
std::size_t WriteFrame(unsigned char type, unsigned char marker, const unsigned char* payload,
                       std::size_t payloadLength, unsigned char* frame, std::size_t capacity);

} // namespace kestrel
