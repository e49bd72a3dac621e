#include "channel/FrameFinder.h"

#include "channel/Crc16.h"

#include <cstring>

namespace kestrel {

namespace {

constexpr std::size_t kNoSync = static_cast<std::size_t>(-1);

// Position of the first four consecutive sync bytes, or kNoSync.
std::size_t FindSync(const unsigned char* bytes, std::size_t count)
{
    if (count < kFrameSyncSize)
        return kNoSync;
    const unsigned char* const lastStart = bytes + count - kFrameSyncSize;
    const unsigned char* candidate = bytes;
    while (candidate <= lastStart) {
        candidate = static_cast<const unsigned char*>(
            std::memchr(candidate, kFrameSyncByte, static_cast<std::size_t>(lastStart - candidate) + 1));
        if (candidate == nullptr)
            return kNoSync;
        // No sync starts at or before the first byte that is not one.
        if (candidate[1] != kFrameSyncByte)
            candidate += 2;
        else if (candidate[2] != kFrameSyncByte)
            candidate += 3;
        else if (candidate[3] != kFrameSyncByte)
            candidate += 4;
        else
            return static_cast<std::size_t>(candidate - bytes);
    }
    return kNoSync;
}

} // namespace

unsigned char* CFrameFinder::RoomFor(std::size_t count)
{
    // After every feed at most kHuntingBacklogLimit bytes remain, so one
    // piece always fits once the remainder is moved to the front. Only a
    // handler that failed on a frame completed late can leave more; then the
    // oldest bytes give way and the hunt starts afresh.
    if (m_count + count > kBufferSize) {
        Discard(m_count + count - kBufferSize);
        m_state = kHunting;
    }
    // An empty buffer starts at the front again, so that one frame per
    // datagram keeps to the same few cache lines.
    if (m_count == 0)
        m_start = 0;
    if (m_start + m_count + count > kBufferSize) {
        std::memmove(m_buffer, m_buffer + m_start, m_count);
        m_start = 0;
    }
    return m_buffer + m_start + m_count;
}

void CFrameFinder::Discard(std::size_t count)
{
    m_start = static_cast<std::uint16_t>(m_start + count);
    m_count = static_cast<std::uint16_t>(m_count - count);
}

// A rejected header or frame gives up only its first byte and the hunt
// resumes: a genuine frame whose sync begins among the rejected bytes, as
// after stray sync bytes or the tail of a damaged frame, is still found.
void CFrameFinder::RejectFront()
{
    Discard(1);
    m_state = kHunting;
}

void CFrameFinder::EmptyBuffer()
{
    m_start = 0;
    m_count = 0;
}

bool CFrameFinder::NextFrame(FrameView& frame)
{
    while (m_count >= kFrameSyncSize) {
        unsigned char* const front = m_buffer + m_start;
        if (m_state == kHunting) {
            const std::size_t sync = FindSync(front, m_count);
            if (sync != kNoSync) {
                Discard(sync);
                m_state = kSyncFound;
            }
            if (m_count > kHuntingBacklogLimit) {
                // Whatever was found goes with the bytes: hunt afresh, so no
                // later bytes are taken for a header without their sync.
                EmptyBuffer();
                m_state = kHunting;
                return false;
            }
            if (m_state == kHunting)
                return false;
            continue;
        }
        if (m_count < kFrameHeaderSize)
            return false;
        const std::uint32_t payloadLength = ReadLittleEndian32(front + kFrameLengthOffset);
        if (m_state == kSyncFound) {
            if (payloadLength > kLargestFramePayload) {
                RejectFront();
                continue;
            }
            m_state = kHeaderAccepted;
        }
        const std::size_t frameSize = kFrameHeaderSize + payloadLength;
        if (m_count < frameSize)
            return false;
        const std::uint16_t crc = Crc16(front + kFrameCheckedOffset, kFrameCheckedHeaderBytes + payloadLength);
        if (crc != ReadLittleEndian16(front + kFrameCheckOffset)) {
            RejectFront();
            continue;
        }
        m_state = kHunting;
        frame = FrameView(front, frameSize);
        return true;
    }
    return false;
}

} // namespace kestrel
