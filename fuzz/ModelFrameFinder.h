#pragma once

#include "fuzz/BitwiseCrc16.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel::fuzz {

// The frame finder's rules written as plainly as possible, over a growing
// vector that remembers where in the stream its first byte lies: the model
// the real finder must match delivery for delivery, byte count for byte count.
class ModelFrameFinder {
public:
    struct Frame {
        std::uint64_t offset; // of its first sync byte in the whole stream
        std::vector<unsigned char> bytes;
    };

    // Feeds like CFrameFinder::Feed; handled(frame) returns false where the
    // real handler fails, which ends the feed with the frame left in place.
    template <typename Handler>
    void Feed(const unsigned char* bytes, std::size_t count, Handler&& handled)
    {
        while (count > 0) {
            const std::size_t piece = std::min<std::size_t>(count, kPiece);
            MakeRoom(piece);
            if (!Take(bytes, piece, handled))
                return;
            bytes += piece;
            count -= piece;
        }
    }

    // One datagram read in place, as the channel socket reads: room for a
    // whole read is made first, and an empty read is not taken.
    template <typename Handler>
    void FeedRead(const unsigned char* bytes, std::size_t count, Handler&& handled)
    {
        MakeRoom(kPiece);
        if (count > 0)
            Take(bytes, count, handled);
    }

    std::size_t Buffered() const { return m_bytes.size() - m_start; }
    // Bytes taken into the stream so far; a failed handler leaves the rest
    // of its feed untaken.
    std::uint64_t StreamTaken() const { return m_frontOffset + Buffered(); }
    int State() const { return m_state; }

private:
    static constexpr std::size_t kBufferSize = 24576;
    static constexpr std::size_t kPiece = 8192;
    static constexpr std::size_t kBacklog = 16384;
    static constexpr std::size_t kHeader = 18;
    static constexpr std::uint32_t kLargestPayload = 8192;

    // Room for `room` more bytes: only what a failed handler left can be in
    // the way, and its oldest bytes go.
    void MakeRoom(std::size_t room)
    {
        if (Buffered() + room > kBufferSize) {
            DropFront(Buffered() + room - kBufferSize);
            m_state = 0;
        }
    }

    template <typename Handler>
    bool Take(const unsigned char* bytes, std::size_t count, Handler&& handled)
    {
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        Frame frame;
        while (NextFrame(frame)) {
            if (!handled(frame))
                return false;
            DropFront(frame.bytes.size());
        }
        return true;
    }

    // Dropped bytes are only counted; they leave the vector in one go once
    // they are the larger part, so that dropping stays cheap.
    void DropFront(std::size_t count)
    {
        m_start += count;
        m_frontOffset += count;
        if (m_start > m_bytes.size() / 2) {
            m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_start));
            m_start = 0;
        }
    }

    const unsigned char* Front() const { return m_bytes.data() + m_start; }

    bool SyncAt(std::size_t i) const
    {
        const unsigned char* at = Front() + i;
        return at[0] == 0xFE && at[1] == 0xFE && at[2] == 0xFE && at[3] == 0xFE;
    }

    std::uint32_t Field(std::size_t offset, int size) const
    {
        std::uint32_t value = 0;
        for (int b = size - 1; b >= 0; --b)
            value = (value << 8) | Front()[offset + static_cast<std::size_t>(b)];
        return value;
    }

    bool NextFrame(Frame& frame)
    {
        while (Buffered() >= 4) {
            if (m_state == 0) {
                for (std::size_t i = 0; i + 4 <= Buffered(); ++i) {
                    if (SyncAt(i)) {
                        DropFront(i);
                        m_state = 1;
                        break;
                    }
                }
                if (Buffered() > kBacklog) {
                    DropFront(Buffered());
                    m_state = 0;
                }
                if (m_state == 0)
                    return false;
                continue;
            }
            if (Buffered() < kHeader)
                return false;
            const std::uint32_t length = Field(14, 4);
            if (m_state == 1) {
                if (length > kLargestPayload) {
                    RejectFront();
                    continue;
                }
                m_state = 2;
            }
            if (Buffered() < kHeader + length)
                return false;
            if (BitwiseCrc16(Front() + 6, 12 + length) != Field(4, 2)) {
                RejectFront();
                continue;
            }
            m_state = 0;
            frame.offset = m_frontOffset;
            frame.bytes.assign(Front(), Front() + kHeader + length);
            return true;
        }
        return false;
    }

    // A rejected header or frame costs its first byte only.
    void RejectFront()
    {
        DropFront(1);
        m_state = 0;
    }

    std::vector<unsigned char> m_bytes;
    std::size_t m_start = 0; // where the buffered bytes begin in m_bytes
    std::uint64_t m_frontOffset = 0;
    int m_state = 0;
};

} // namespace kestrel::fuzz
