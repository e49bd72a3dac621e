#pragma once

#include "bench/TableCrc16.h"
#include "channel/FrameFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel::bench {

// The frame finder written the straightforward way: a byte-by-byte hunt, the
// one-table CRC, and the rest of the buffer moved to the front after every
// frame. The yardstick for CFrameFinder.
class ReferenceFrameFinder {
public:
    template <typename FrameHandler>
    void Feed(const unsigned char* bytes, std::size_t count, FrameHandler&& onFrame)
    {
        std::memcpy(m_buffer + m_count, bytes, count);
        m_count += count;
        for (std::size_t size = NextFrame(); size != 0; size = NextFrame()) {
            onFrame(m_buffer, size);
            DropFront(size);
        }
    }

private:
    void DropFront(std::size_t count)
    {
        std::memmove(m_buffer, m_buffer + count, m_count - count);
        m_count -= count;
    }

    // The size of the whole frame at the front, or 0 while there is none.
    std::size_t NextFrame()
    {
        while (m_count >= kFrameSyncSize) {
            if (m_state == 0) {
                for (std::size_t i = 0; i + kFrameSyncSize <= m_count; ++i) {
                    if (m_buffer[i] == kFrameSyncByte && m_buffer[i + 1] == kFrameSyncByte
                        && m_buffer[i + 2] == kFrameSyncByte && m_buffer[i + 3] == kFrameSyncByte) {
                        DropFront(i);
                        m_state = 1;
                        break;
                    }
                }
                if (m_count > 16384)
                    m_count = 0;
                if (m_state == 0)
                    return 0;
            }
            if (m_count < kFrameHeaderSize)
                return 0;
            const std::uint32_t length = ReadLittleEndian32(m_buffer + kFrameLengthOffset);
            if (m_state == 1) {
                if (length > kLargestFramePayload) {
                    DropFront(kFrameSyncSize);
                    m_state = 0;
                    continue;
                }
                m_state = 2;
            }
            if (m_count < kFrameHeaderSize + length)
                return 0;
            m_state = 0;
            if (TableCrc16(m_buffer + kFrameCheckedOffset, kFrameCheckedHeaderBytes + length)
                == ReadLittleEndian16(m_buffer + kFrameCheckOffset))
                return kFrameHeaderSize + length;
            DropFront(kFrameSyncSize);
        }
        return 0;
    }

    int m_state = 0;
    std::size_t m_count = 0;
    unsigned char m_buffer[24576] = {};
};

} // namespace kestrel::bench
