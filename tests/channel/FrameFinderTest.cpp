#include "channel/FrameFinder.h"
#include "channel/FrameWriter.h"

#include "tests/channel/FrameBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

namespace kestrel {
namespace {

using test::Bytes;
using test::FrameLog;
using test::Garbage;
using test::Join;
using test::MakeFrame;
using test::PatternPayload;

// A link-record-sized frame: misread one to three bytes early, its length
// field reads far beyond the largest payload.
Bytes RecordSizedFrame(unsigned char seed)
{
    return MakeFrame(0xC8, 0, PatternPayload(kLinkRecordSize, seed));
}

// A frame whose header announces `payloadLength` bytes, check value correct.
Bytes FrameAnnouncing(std::uint32_t payloadLength)
{
    Bytes frame = Join({Bytes(kFrameHeaderSize), PatternPayload(payloadLength)});
    SealFrame(0x10, 0, payloadLength, frame.data());
    return frame;
}

Bytes WithFlippedBit(Bytes frame, std::size_t index)
{
    frame[index] ^= 0x01;
    return frame;
}

class FrameFinderTest : public ::testing::Test {
protected:
    void Feed(const Bytes& bytes) { m_finder.Feed(bytes.data(), bytes.size(), m_log); }
    const std::vector<Bytes>& Frames() const { return m_log.frames; }

    CFrameFinder m_finder;
    FrameLog m_log;
};

TEST_F(FrameFinderTest, AFrameSplitOverThreeFeedsArrivesAfterTheThird)
{
    const Bytes frame = RecordSizedFrame(1);
    Feed(Bytes(frame.begin(), frame.begin() + 10));
    Feed(Bytes(frame.begin() + 10, frame.begin() + 600));
    EXPECT_TRUE(Frames().empty());
    Feed(Bytes(frame.begin() + 600, frame.end()));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], frame);
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
}

TEST_F(FrameFinderTest, TwoFramesInOneFeedArriveInStreamOrder)
{
    const Bytes first = RecordSizedFrame(1);
    const Bytes second = MakeFrame(0x22, 1, PatternPayload(40, 9));
    Feed(Join({first, second}));
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[0], first);
    EXPECT_EQ(Frames()[1], second);
}

TEST_F(FrameFinderTest, GarbageBeforeAndBetweenFramesIsDropped)
{
    const Bytes first = RecordSizedFrame(1);
    const Bytes second = RecordSizedFrame(2);
    Feed(Join({Garbage(300, 1), first, Garbage(77, 2), Bytes{0xFE, 0xFE, 0xFE}, Garbage(5, 3), second}));
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[0], first);
    EXPECT_EQ(Frames()[1], second);
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
}

TEST_F(FrameFinderTest, BytesAfterAFrameWaitForTheNextFeed)
{
    const Bytes first = RecordSizedFrame(1);
    const Bytes second = RecordSizedFrame(2);
    Feed(Join({first, Bytes(second.begin(), second.begin() + 100)}));
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_EQ(m_finder.GetBufferedCount(), 100u);
    Feed(Bytes(second.begin() + 100, second.end()));
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[1], second);
}

TEST_F(FrameFinderTest, AnEmptyFeedChangesNothing)
{
    const Bytes frame = RecordSizedFrame(1);
    Feed(Bytes(frame.begin(), frame.begin() + 30));
    m_finder.Feed(nullptr, 5, m_log);
    m_finder.Feed(frame.data(), 0, m_log);
    EXPECT_EQ(m_finder.GetBufferedCount(), 30u);
    EXPECT_EQ(m_finder.GetState(), CFrameFinder::kHeaderAccepted);
    Feed(Bytes(frame.begin() + 30, frame.end()));
    EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(FrameFinderTest, ALongRunIsTakenOneDatagramAtATime)
{
    Bytes stream;
    for (unsigned char i = 0; i < 20; ++i)
        stream = Join({stream, RecordSizedFrame(i)});
    Feed(stream);
    ASSERT_EQ(Frames().size(), 20u);
    EXPECT_EQ(Frames()[19], RecordSizedFrame(19));
}

TEST_F(FrameFinderTest, TheLargestPayloadIsAcceptedAndOneByteMoreIsNot)
{
    const Bytes largest = FrameAnnouncing(kLargestFramePayload);
    const Bytes tooLong = FrameAnnouncing(kLargestFramePayload + 1);
    const Bytes good = RecordSizedFrame(3);
    Feed(Join({Bytes(tooLong.begin(), tooLong.begin() + kFrameHeaderSize), good}));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], good);

    Feed(Join({tooLong, largest}));
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[1], largest);
}

TEST_F(FrameFinderTest, AFrameWithAFlippedBitIsRejectedAndTheNextOneDelivered)
{
    const Bytes good = RecordSizedFrame(5);
    for (std::size_t index : {std::size_t{4}, std::size_t{6}, std::size_t{16}, std::size_t{500}, good.size() - 1}) {
        SCOPED_TRACE(index);
        m_log.frames.clear();
        Feed(Join({WithFlippedBit(RecordSizedFrame(4), index), good}));
        ASSERT_EQ(Frames().size(), 1u);
        EXPECT_EQ(Frames()[0], good);
        EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
    }
}

TEST_F(FrameFinderTest, StraySyncBytesBeforeAFrameDoNotCostIt)
{
    const Bytes good = RecordSizedFrame(6);
    for (std::size_t stray = 1; stray <= 3; ++stray) {
        SCOPED_TRACE(stray);
        m_log.frames.clear();
        Feed(Join({Garbage(20, 4), Bytes(stray, kFrameSyncByte), good}));
        ASSERT_EQ(Frames().size(), 1u);
        EXPECT_EQ(Frames()[0], good);
    }
}

TEST_F(FrameFinderTest, StraySyncBytesBrokenOffJustBeforeAFrameDoNotCostIt)
{
    const Bytes good = RecordSizedFrame(9);
    const Bytes strays[] = {{0x00, 0xFE, 0xFE, 0x00}, {0xFE, 0x00}, {0xFE, 0xFE, 0xFE, 0x00}, {0xFE, 0xFE, 0x01, 0xFE}};
    for (const Bytes& stray : strays) {
        SCOPED_TRACE(testing::PrintToString(stray));
        m_log.frames.clear();
        Feed(Join({stray, good}));
        ASSERT_EQ(Frames().size(), 1u);
        EXPECT_EQ(Frames()[0], good);
    }
}

TEST_F(FrameFinderTest, TheSyncTailOfADamagedFrameDoesNotCostTheNextFrame)
{
    const Bytes good = RecordSizedFrame(7);
    for (std::size_t tail = 1; tail <= 3; ++tail) {
        SCOPED_TRACE(tail);
        m_log.frames.clear();
        Bytes payload = PatternPayload(200, 8);
        std::fill(payload.end() - static_cast<std::ptrdiff_t>(tail), payload.end(), kFrameSyncByte);
        const Bytes damaged = WithFlippedBit(MakeFrame(0x30, 0, payload), 50);
        Feed(Join({damaged, good}));
        ASSERT_EQ(Frames().size(), 1u);
        EXPECT_EQ(Frames()[0], good);
    }
}

TEST_F(FrameFinderTest, AFullHuntingBacklogStaysBuffered)
{
    // 16384 bytes without a complete sync: the last two may begin one.
    const Bytes frame = RecordSizedFrame(9);
    Feed(Garbage(8192, 1));
    Feed(Join({Garbage(8190, 2), Bytes(frame.begin(), frame.begin() + 2)}));
    EXPECT_EQ(m_finder.GetBufferedCount(), CFrameFinder::kHuntingBacklogLimit);
    Feed(Bytes(frame.begin() + 2, frame.end()));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], frame);
}

TEST_F(FrameFinderTest, OneByteOverTheHuntingBacklogEmptiesTheBufferAndHuntingGoesOn)
{
    const Bytes cut = RecordSizedFrame(10);
    const Bytes next = RecordSizedFrame(11);
    Feed(Garbage(8192, 1));
    Feed(Join({Garbage(8191, 2), Bytes(cut.begin(), cut.begin() + 2)}));
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
    EXPECT_EQ(m_finder.GetState(), CFrameFinder::kHunting);
    Feed(Join({Bytes(cut.begin() + 2, cut.end()), next}));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], next);
}

TEST_F(FrameFinderTest, AfterAHuntEmptiesTheBufferNoHeaderIsReadWithoutItsSync)
{
    // A damaged frame of the largest size whose check value begins with a
    // sync byte: once it is rejected, the hunt finds a sync one byte on and
    // still holds more than the backlog, so everything goes.
    Bytes damaged = FrameAnnouncing(kLargestFramePayload);
    damaged[kFrameCheckOffset] = kFrameSyncByte;
    damaged[kFrameCheckOffset + 1] = 0x00;
    ASSERT_EQ(damaged.size(), 8210u);
    Feed(Bytes(damaged.begin(), damaged.begin() + 8192));
    Feed(Bytes(damaged.begin() + 8192, damaged.begin() + 8209));
    EXPECT_TRUE(Frames().empty());
    Feed(Join({Bytes(1, damaged.back()), Garbage(8191, 3)}));
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
    EXPECT_EQ(m_finder.GetState(), CFrameFinder::kHunting);

    // A good frame whose sync bytes were lost on the way is not a frame.
    Bytes unsynced = RecordSizedFrame(12);
    std::fill(unsynced.begin(), unsynced.begin() + kFrameSyncSize, 0x00);
    const Bytes good = RecordSizedFrame(13);
    Feed(Join({unsynced, good}));
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(Frames()[0], good);
}

TEST_F(FrameFinderTest, AFailingHandlerEndsTheFeedAndTheFrameIsHandedOnAgain)
{
    const Bytes first = RecordSizedFrame(14);
    const Bytes second = RecordSizedFrame(15);
    const Bytes third = RecordSizedFrame(16);
    bool fail = true;
    std::vector<Bytes> seen;
    auto handler = [&](FrameView frame) {
        seen.emplace_back(frame.Bytes(), frame.Bytes() + frame.Size());
        if (fail)
            throw std::runtime_error("handler failed");
    };
    const Bytes both = Join({first, second});
    m_finder.Feed(both.data(), both.size(), handler);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(m_finder.GetBufferedCount(), both.size());

    fail = false;
    m_finder.Feed(third.data(), third.size(), handler);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], first);
    EXPECT_EQ(seen[2], second);
    EXPECT_EQ(seen[3], third);
}

TEST_F(FrameFinderTest, AHandlerFailingOnALateLargestFrameNeverOverfillsTheBuffer)
{
    // The largest frame, completed by a full read: when its handler fails,
    // more than the hunting backlog stays, and the next full read must still fit.
    const Bytes largest = MakeFrame(0xEE, 0, PatternPayload(kLargestFramePayload));
    const Bytes good = RecordSizedFrame(19);
    std::vector<Bytes> seen;
    auto handler = [&](FrameView frame) {
        seen.emplace_back(frame.Bytes(), frame.Bytes() + frame.Size());
        if (frame.Type() == 0xEE)
            throw std::runtime_error("handler failed");
    };
    // On the heap, so that the address sanitizer sees a step past its end.
    const auto finder = std::make_unique<CFrameFinder>();
    const std::size_t firstRead = largest.size() - 10;
    finder->Feed(largest.data(), firstRead, handler);
    const Bytes secondRead = Join({Bytes(largest.begin() + firstRead, largest.end()), Garbage(CFrameFinder::kLargestPiece - 10)});
    finder->Feed(secondRead.data(), secondRead.size(), handler);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_GT(finder->GetBufferedCount(), CFrameFinder::kHuntingBacklogLimit);

    const Bytes thirdRead = Garbage(CFrameFinder::kLargestPiece, 3);
    finder->Feed(thirdRead.data(), thirdRead.size(), handler);
    EXPECT_LE(finder->GetBufferedCount(), CFrameFinder::kHuntingBacklogLimit);
    finder->Feed(good.data(), good.size(), handler);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), good);
}

TEST_F(FrameFinderTest, BytesReadIntoTheRoomAreFoundLikeFedOnes)
{
    // As the channel socket reads: a whole read's room each time, only part
    // of it filled, the frame split over two reads and followed by another.
    const Bytes first = RecordSizedFrame(20);
    const Bytes second = RecordSizedFrame(21);
    const Bytes stream = Join({first, second});
    const std::size_t split = 700;
    for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, split}, {split, stream.size()}}) {
        unsigned char* room = m_finder.RoomFor(CFrameFinder::kLargestPiece);
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(from), stream.begin() + static_cast<std::ptrdiff_t>(to), room);
        EXPECT_TRUE(m_finder.FeedRoom(to - from, m_log));
    }
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[0], first);
    EXPECT_EQ(Frames()[1], second);
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
}

TEST_F(FrameFinderTest, TheHandlerMayChangeThePayloadInPlace)
{
    const Bytes first = RecordSizedFrame(17);
    const Bytes second = RecordSizedFrame(18);
    std::vector<Bytes> seen;
    auto invertingHandler = [&](FrameView frame) {
        for (std::uint32_t i = 0; i < frame.PayloadLength(); ++i)
            frame.Payload()[i] ^= 0xFF;
        seen.emplace_back(frame.Bytes(), frame.Bytes() + frame.Size());
    };
    const Bytes both = Join({first, second});
    m_finder.Feed(both.data(), both.size(), invertingHandler);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1][kFrameHeaderSize], static_cast<unsigned char>(~second[kFrameHeaderSize]));
    EXPECT_EQ(m_finder.GetBufferedCount(), 0u);
}

} // namespace
} // namespace kestrel
