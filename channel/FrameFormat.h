#pragma once

#include "base/LinkRecord.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

// The frame on the channel: an 18-byte header, then the payload.
//   0  4  sync, four 0xFE bytes
//   4  2  check value, CRC-16 of the bytes from offset 6 to the payload's end
//   6  1  frame type
//   7  1  marker
//   8  6  carried: signed frames are bound to their channel's port here,
//         little-endian in bytes 8 and 9, bytes 10 to 13 zero
//  14  4  payload length
// Multi-byte fields are little-endian.
constexpr unsigned char kFrameSyncByte = 0xFE;
constexpr std::size_t kFrameSyncSize = 4;
constexpr std::size_t kFrameCheckOffset = 4;
constexpr std::size_t kFrameTypeOffset = 6;
constexpr std::size_t kFrameMarkerOffset = 7;
constexpr std::size_t kFrameBoundPortOffset = 8;
constexpr std::size_t kFrameLengthOffset = 14;
constexpr std::size_t kFrameHeaderSize = 18;
// The check value covers everything after itself.
constexpr std::size_t kFrameCheckedOffset = kFrameTypeOffset;
constexpr std::size_t kFrameCheckedHeaderBytes = kFrameHeaderSize - kFrameCheckedOffset;
constexpr std::uint32_t kLargestFramePayload = 8192;

// A link-record frame carries one whole record, every byte inverted.
constexpr unsigned char kLinkRecordFrameType = 0xC8;
constexpr std::size_t kLinkRecordFrameSize = kFrameHeaderSize + kLinkRecordSize;

// The record crosses the wire inverted; inverting again gives it back.
// Sixteen bytes at a time, which the compiler makes one vector step: byte by
// byte this would cost more than the check of the whole frame.
inline void CopyInverted(const unsigned char* from, std::size_t count, unsigned char* to)
{
    constexpr std::size_t kStep = 16;
    std::size_t i = 0;
    for (; i + kStep <= count; i += kStep) {
        unsigned char block[kStep];
        std::memcpy(block, from + i, kStep);
        for (unsigned char& byte : block)
            byte = static_cast<unsigned char>(~byte);
        std::memcpy(to + i, block, kStep);
    }
    for (; i < count; ++i)
        to[i] = static_cast<unsigned char>(~from[i]);
}

inline std::uint16_t ReadLittleEndian16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline std::uint32_t ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8)
        | (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

} // namespace kestrel
