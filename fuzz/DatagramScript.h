#pragma once

#include "channel/FrameFormat.h"
#include "channel/FrameWriter.h"
#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrel::fuzz {

// The frame finder's fuzz input: a script of steps that build a byte stream
// and cut it into datagrams. Each step opens with a tag byte whose low two
// bits choose it:
//   raw      n-1 (1 byte), then n bytes of the stream as they are
//   frame    payload length (2 bytes, taken modulo 8194, so 8193 occurs),
//            type, marker, k (1 byte) and k payload bytes; the rest of the
//            payload is a pattern without sync bytes. The header and its
//            check value are made by the frame writer. With tag bit 2 set,
//            one bit is flipped: bit (tag >> 5) of the byte at a 2-byte
//            position taken modulo the frame's size
//   sync run (tag >> 2) % 8 + 1 sync bytes
//   cut      the bytes since the last cut form one datagram (possibly
//            empty); with tag bit 2 set only the first n of them do, n
//            being 2 bytes, and the rest wait for the next cut. With tag
//            bit 3 set the datagram is read in place, as the channel socket
//            reads, when it fits one read
// A datagram is also cut when it reaches kLongestDatagram bytes, and the
// bytes left at the end form the last one.
enum DatagramStep : std::uint8_t { kRawBytes = 0, kSealedFrame = 1, kSyncRun = 2, kDatagramCut = 3 };
constexpr std::uint8_t kDamageBit = 4;
constexpr std::uint8_t kSplitBit = 4;
constexpr std::uint8_t kInPlaceBit = 8;
// The frame finder's handler fails on frames of this type, as a handler
// that throws may.
constexpr unsigned char kFailingFrameType = 0xEE;
// Longer than one read, so that a feed must take it in several pieces.
constexpr std::size_t kLongestDatagram = 3 * 8192;

using Bytes = std::vector<unsigned char>;

struct Datagram {
    Bytes bytes;
    bool readInPlace = false;
};

class DatagramScript {
public:
    explicit DatagramScript(FuzzInput& input) : m_input(input) {}

    std::vector<Datagram> Run()
    {
        while (!m_input.Empty()) {
            const std::uint8_t tag = m_input.TakeByte();
            switch (tag & 3) {
            case kRawBytes:
                Raw();
                break;
            case kSealedFrame:
                Frame(tag);
                break;
            case kSyncRun:
                m_pending.insert(m_pending.end(), (tag >> 2) % 8 + 1, kFrameSyncByte);
                break;
            default:
                Cut(tag & kSplitBit ? m_input.TakeLittleEndian16() : m_pending.size(), tag & kInPlaceBit);
                break;
            }
            while (m_pending.size() >= kLongestDatagram)
                Cut(kLongestDatagram, false);
        }
        if (!m_pending.empty())
            Cut(m_pending.size(), false);
        return std::move(m_datagrams);
    }

private:
    void Raw()
    {
        std::size_t taken = 0;
        const std::uint8_t* bytes = m_input.TakeBytes(m_input.TakeByte() + 1u, taken);
        m_pending.insert(m_pending.end(), bytes, bytes + taken);
    }

    void Frame(std::uint8_t tag)
    {
        const std::uint32_t length = m_input.TakeLittleEndian16() % (kLargestFramePayload + 2);
        const std::uint8_t type = m_input.TakeByte();
        const std::uint8_t marker = m_input.TakeByte();
        const std::uint8_t given = m_input.TakeByte();
        std::size_t taken = 0;
        const std::uint8_t* payload = m_input.TakeBytes(given < length ? given : length, taken);

        Bytes frame(kFrameHeaderSize + length);
        std::copy(payload, payload + taken, frame.begin() + kFrameHeaderSize);
        for (std::size_t i = taken; i < length; ++i)
            frame[kFrameHeaderSize + i] = static_cast<unsigned char>((given + i * 7) % kFrameSyncByte);
        SealFrame(type, marker, length, frame.data());
        if (tag & kDamageBit)
            frame[m_input.TakeLittleEndian16() % frame.size()] ^= static_cast<unsigned char>(1u << (tag >> 5));
        m_pending.insert(m_pending.end(), frame.begin(), frame.end());
    }

    void Cut(std::size_t size, bool readInPlace)
    {
        const auto end = m_pending.begin() + static_cast<std::ptrdiff_t>(size < m_pending.size() ? size : m_pending.size());
        m_datagrams.push_back({Bytes(m_pending.begin(), end), readInPlace});
        m_pending.erase(m_pending.begin(), end);
    }

    FuzzInput& m_input;
    Bytes m_pending;
    std::vector<Datagram> m_datagrams;
};

} // namespace kestrel::fuzz
