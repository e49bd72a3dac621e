#include "channel/Crc16.h"
#include "channel/FrameFinder.h"
#include "channel/FrameWriter.h"
#include "channel/LinkRecordFrame.h"

#include "tests/channel/FrameBytes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrel {
namespace {

using test::Bytes;
using test::MakeLinkRecord;
using test::PatternPayload;

std::vector<Bytes> FindFrames(const Bytes& stream)
{
    CFrameFinder finder;
    test::FrameLog log;
    finder.Feed(stream.data(), stream.size(), log);
    return log.frames;
}

TEST(FrameWriter, AFrameCarriesItsHeaderFieldsLittleEndian)
{
    const Bytes payload = PatternPayload(0x0102, 3);
    Bytes frame(kFrameHeaderSize + payload.size() + 10, 0xAA);
    ASSERT_EQ(WriteFrame(0x33, 0x01, payload.data(), payload.size(), frame.data(), frame.size()),
              kFrameHeaderSize + payload.size());
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), Bytes(4, 0xFE));
    EXPECT_EQ(frame[6], 0x33);
    EXPECT_EQ(frame[7], 0x01);
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 14), Bytes(6, 0x00));
    EXPECT_EQ(Bytes(frame.begin() + 14, frame.begin() + 18), (Bytes{0x02, 0x01, 0x00, 0x00}));
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 18));
    const std::uint16_t crc = Crc16(frame.data() + 6, 12 + payload.size());
    EXPECT_EQ(frame[4], crc & 0xFF);
    EXPECT_EQ(frame[5], crc >> 8);
    EXPECT_EQ(frame.back(), 0xAA);
}

TEST(FrameWriter, NothingIsWrittenForAPayloadTooLongOrABufferTooSmall)
{
    const Bytes payload = PatternPayload(kLargestFramePayload + 1);
    Bytes frame(kFrameHeaderSize + payload.size(), 0xAA);
    EXPECT_EQ(WriteFrame(0x01, 0, payload.data(), payload.size(), frame.data(), frame.size()), 0u);
    EXPECT_EQ(WriteFrame(0x01, 0, payload.data(), 100, frame.data(), kFrameHeaderSize + 99), 0u);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](unsigned char b) { return b == 0xAA; }));
}

TEST(FrameWriter, ALinkRecordFrameCarriesTheRecordInverted)
{
    LinkRecord record = MakeLinkRecord("\xD3\xEF\xCE\xC4", "http://127.0.0.1/a");
    record.reserved = 0x0F;
    unsigned char frame[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(record, 1, frame);
    EXPECT_EQ(sizeof frame, 1171u);
    EXPECT_EQ(frame[kFrameTypeOffset], 0xC8);
    EXPECT_EQ(frame[kFrameMarkerOffset], 1);
    EXPECT_EQ(ReadLittleEndian32(frame + kFrameLengthOffset), 1153u);
    const auto* recordBytes = reinterpret_cast<const unsigned char*>(&record);
    for (std::size_t i = 0; i < kLinkRecordSize; ++i)
        ASSERT_EQ(frame[kFrameHeaderSize + i], static_cast<unsigned char>(recordBytes[i] ^ 0xFF)) << i;
    EXPECT_EQ(FindFrames(Bytes(frame, frame + sizeof frame)).size(), 1u);
}

} // namespace
} // namespace kestrel
