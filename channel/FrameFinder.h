#pragma once

#include "channel/FrameView.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

// Cuts the channel's byte stream into checked frames. Datagrams need not
// line up with frames: bytes wait in a fixed 24576-byte buffer until their
// frame is whole. Each frame is lent in place to the handler; nothing is
// allocated and nothing moves until the next feed needs the room.
class CFrameFinder {
public:
    enum ParserState : std::int32_t {
        kHunting = 0,         // looking for four sync bytes
        kSyncFound = 1,       // waiting for the rest of the header
        kHeaderAccepted = 2,  // waiting for the whole frame
    };

    static constexpr std::size_t kBufferSize = 24576;
    // The most one feed adds: one datagram read.
    static constexpr std::size_t kLargestPiece = 8192;
    // Bytes kept while hunting; more means the stream is garbage.
    static constexpr std::size_t kHuntingBacklogLimit = kBufferSize - kLargestPiece;

    // Appends the bytes and calls onFrame(FrameView) for every frame that is
    // now whole, in stream order. Longer runs are taken one datagram's worth
    // at a time. A failure thrown by the handler ends the feed and leaves
    // the bytes and the state as they are at that moment.
    template <typename FrameHandler>
    void Feed(const unsigned char* bytes, std::size_t count, FrameHandler&& onFrame);

    // Room for `count` bytes (at most kLargestPiece) right behind the
    // buffered ones, so that a datagram can be read straight into the
    // stream; FeedRoom then takes them in.
    unsigned char* RoomFor(std::size_t count);
    // Takes the first `count` bytes written into RoomFor's room and hands on
    // the frames they complete, as Feed does. False when the handler failed.
    template <typename FrameHandler>
    bool FeedRoom(std::size_t count, FrameHandler&& onFrame);

    std::size_t GetBufferedCount() const { return m_count; }
    ParserState GetState() const { return static_cast<ParserState>(m_state); }

private:
    bool NextFrame(FrameView& frame);
    void Discard(std::size_t count);
    void RejectFront();
    void EmptyBuffer();

    std::int32_t m_state = kHunting;
    std::uint16_t m_count = 0;
    // Where the buffered bytes begin: frames are taken from the front
    // without moving the rest.
    std::uint16_t m_start = 0;
    unsigned char m_buffer[kBufferSize] = {};
};

template <typename FrameHandler>
void CFrameFinder::Feed(const unsigned char* bytes, std::size_t count, FrameHandler&& onFrame)
{
    if (bytes == nullptr)
        return;
    while (count > 0) {
        const std::size_t piece = count < kLargestPiece ? count : kLargestPiece;
        std::memcpy(RoomFor(piece), bytes, piece);
        bytes += piece;
        count -= piece;
        if (!FeedRoom(piece, onFrame))
            return;
    }
}

template <typename FrameHandler>
bool CFrameFinder::FeedRoom(std::size_t count, FrameHandler&& onFrame)
{
    m_count = static_cast<std::uint16_t>(m_count + count);
    FrameView frame(nullptr, 0);
    while (NextFrame(frame)) {
        try {
            onFrame(frame);
        } catch (...) {
            return false;
        }
        Discard(frame.Size());
    }
    return true;
}

} // namespace kestrel
