#include "channel/Crc16.h"
#include "channel/FrameFinder.h"

#include "tests/channel/FrameBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace kestrel {
namespace {

using test::Bytes;
using test::Join;
using test::MakeFrame;

Bytes RandomBytes(std::mt19937& random, std::size_t count)
{
    Bytes bytes(count);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

// Random bytes with sync bytes among them, but never a whole sync and never
// ending in one, so they cannot hide a frame's start.
Bytes NoisyGarbage(std::mt19937& random, std::size_t count)
{
    Bytes garbage = RandomBytes(random, count);
    std::size_t run = 0;
    for (unsigned char& byte : garbage) {
        run = (byte == kFrameSyncByte) ? run + 1 : 0;
        if (run == kFrameSyncSize) {
            byte = 0x00;
            run = 0;
        }
    }
    if (!garbage.empty() && garbage.back() == kFrameSyncByte)
        garbage.back() = 0x00;
    return garbage;
}

bool IsWellFormed(const Bytes& frame)
{
    if (frame.size() < kFrameHeaderSize)
        return false;
    const std::uint32_t length = ReadLittleEndian32(frame.data() + kFrameLengthOffset);
    return std::all_of(frame.begin(), frame.begin() + kFrameSyncSize, [](unsigned char b) { return b == kFrameSyncByte; })
        && length <= kLargestFramePayload && frame.size() == kFrameHeaderSize + length
        && Crc16(frame.data() + kFrameCheckedOffset, frame.size() - kFrameCheckedOffset)
               == ReadLittleEndian16(frame.data() + kFrameCheckOffset);
}

// Feeds the stream in pieces of random size and checks what the finder
// promises after every feed.
std::vector<Bytes> FeedInRandomPieces(const Bytes& stream, std::mt19937& random)
{
    CFrameFinder finder;
    test::FrameLog log;
    std::size_t offset = 0;
    while (offset < stream.size()) {
        const std::size_t piece = std::min<std::size_t>(stream.size() - offset, 1 + random() % CFrameFinder::kLargestPiece);
        finder.Feed(stream.data() + offset, piece, log);
        offset += piece;
        EXPECT_LE(finder.GetBufferedCount(), CFrameFinder::kHuntingBacklogLimit);
    }
    for (const Bytes& frame : log.frames)
        EXPECT_TRUE(IsWellFormed(frame));
    return log.frames;
}

TEST(FrameFinderFuzz, DamageCostsOnlyTheFramesItTouches)
{
    std::mt19937 random(20240611);
    std::vector<Bytes> genuine;
    Bytes stream;
    for (int i = 0; i < 400; ++i) {
        // Payloads of 33 bytes and more: read one to three bytes early, their
        // length fields announce far more than the largest payload.
        Bytes frame = MakeFrame(static_cast<unsigned char>(random()), static_cast<unsigned char>(random()),
                                RandomBytes(random, 33 + random() % 3000));
        switch (random() % 5) {
        case 0:
            stream = Join({stream, NoisyGarbage(random, random() % 600)});
            break;
        case 1:
            stream = Join({stream, Bytes(1 + random() % 3, kFrameSyncByte)});
            break;
        case 2: {
            Bytes damaged = MakeFrame(0xC8, 0, RandomBytes(random, 33 + random() % 3000));
            damaged[random() % damaged.size()] ^= static_cast<unsigned char>(1u << (random() % 8));
            stream = Join({stream, damaged});
            break;
        }
        default:
            break;
        }
        stream = Join({stream, frame});
        genuine.push_back(std::move(frame));
    }
    const std::vector<Bytes> delivered = FeedInRandomPieces(stream, random);
    ASSERT_EQ(delivered.size(), genuine.size());
    for (std::size_t i = 0; i < genuine.size(); ++i)
        ASSERT_EQ(delivered[i], genuine[i]) << "frame " << i;
}

TEST(FrameFinderFuzz, HostileStreamsOnlyEverYieldCheckedFrames)
{
    std::mt19937 random(7);
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        switch (random() % 4) {
        case 0:
            // A run of syncs with a random header behind it.
            stream = Join({stream, Bytes(4 + random() % 6, kFrameSyncByte), RandomBytes(random, random() % 40)});
            break;
        case 1: {
            Bytes header(kFrameHeaderSize, kFrameSyncByte);
            const std::uint32_t length = random() % (2 * kLargestFramePayload);
            for (int b = 0; b < 4; ++b)
                header[kFrameLengthOffset + b] = static_cast<unsigned char>(length >> (8 * b));
            stream = Join({stream, header, RandomBytes(random, random() % 9000)});
            break;
        }
        case 2:
            stream = Join({stream, MakeFrame(1, 0, RandomBytes(random, random() % 100))});
            break;
        default:
            stream = Join({stream, RandomBytes(random, random() % 20000)});
            break;
        }
    }
    const std::vector<Bytes> delivered = FeedInRandomPieces(stream, random);
    EXPECT_FALSE(delivered.empty());
}

} // namespace
} // namespace kestrel
