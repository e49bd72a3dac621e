#include "channel/LinkReceiver.h"

#include "tests/channel/FrameBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using test::Bytes;
using test::Join;
using test::LinkRecordFrame;
using test::MakeFrame;
using test::MakeLinkRecord;
using test::SameRecord;

Bytes RecordBytes(const LinkRecord& record)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    return Bytes(bytes, bytes + sizeof record);
}

Bytes Inverted(Bytes bytes)
{
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(~byte);
    return bytes;
}

class LinkReceiverTest : public ::testing::Test {
protected:
    void Receive(const Bytes& bytes) { m_receiver.Feed(bytes.data(), bytes.size()); }
    void Announce(const LinkRecord& record, unsigned char marker = 0) { Receive(LinkRecordFrame(record, marker)); }

    LinkRecord Slot(int index) const
    {
        LinkRecord record{};
        EXPECT_TRUE(m_receiver.GetRecord(index, record));
        return record;
    }

    // The names in slot order.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < m_receiver.GetCount(); ++i)
            names.emplace_back(Slot(i).name);
        return names;
    }

    CLinkReceiver m_receiver;
};

TEST_F(LinkReceiverTest, ALinkRecordFrameStoresTheRecordAsSent)
{
    LinkRecord record = MakeLinkRecord("\xD3\xEF\xCE\xC4", "http://127.0.0.1/chinese");
    record.reserved = 0x5A;
    std::strcpy(record.caption, "\xD3\xEF\xCE\xC4\xBF\xCE");
    std::strcpy(record.hotPicture, "http://127.0.0.1/hot.bmp");
    Announce(record);
    ASSERT_EQ(m_receiver.GetCount(), 1);
    EXPECT_TRUE(SameRecord(Slot(0), record));
}

TEST_F(LinkReceiverTest, MarkersZeroAndOneAreTakenAndNoOther)
{
    Announce(MakeLinkRecord("zero"), 0);
    Announce(MakeLinkRecord("one"), 1);
    Announce(MakeLinkRecord("two"), 2);
    Announce(MakeLinkRecord("high"), 0xFF);
    EXPECT_EQ(Names(), (std::vector<std::string>{"zero", "one"}));
}

TEST_F(LinkReceiverTest, FramesOfOtherTypesAreIgnored)
{
    const Bytes payload = Inverted(RecordBytes(MakeLinkRecord("other")));
    Receive(Join({MakeFrame(0xC7, 0, payload), MakeFrame(0x00, 1, payload), MakeFrame(0xC8, 2, payload)}));
    EXPECT_EQ(m_receiver.GetCount(), 0);
    Receive(MakeFrame(0xC8, 1, payload));
    EXPECT_EQ(m_receiver.GetCount(), 1);
}

TEST_F(LinkReceiverTest, APayloadShorterThanARecordIsDropped)
{
    const Bytes payload = Inverted(RecordBytes(MakeLinkRecord("short")));
    Receive(MakeFrame(kLinkRecordFrameType, 0, Bytes(payload.begin(), payload.end() - 1)));
    EXPECT_EQ(m_receiver.GetCount(), 0);
}

TEST_F(LinkReceiverTest, ALongerPayloadGivesItsFirstRecord)
{
    const LinkRecord record = MakeLinkRecord("long");
    Receive(MakeFrame(kLinkRecordFrameType, 0, Join({Inverted(RecordBytes(record)), Bytes(40, 0x11)})));
    ASSERT_EQ(m_receiver.GetCount(), 1);
    EXPECT_TRUE(SameRecord(Slot(0), record));
}

TEST_F(LinkReceiverTest, ARecordWithoutANameIsRefused)
{
    Announce(MakeLinkRecord(""));
    EXPECT_EQ(m_receiver.GetCount(), 0);
    EXPECT_FALSE(m_receiver.AddRecord(MakeLinkRecord("")));
}

TEST_F(LinkReceiverTest, NamesDifferingInAsciiLetterCaseShareASlot)
{
    Announce(MakeLinkRecord("Maths", "http://127.0.0.1/old"));
    Announce(MakeLinkRecord("science"));
    Announce(MakeLinkRecord("mATHS", "http://127.0.0.1/new"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"mATHS", "science"}));
    EXPECT_STREQ(Slot(0).url, "http://127.0.0.1/new");
}

TEST_F(LinkReceiverTest, GbkNamesCompareExactly)
{
    Announce(MakeLinkRecord("\xCA\xFD\xD1\xA7"));  // 数学
    Announce(MakeLinkRecord("\xCA\xFD\xD1\xA8"));  // one trail byte further on
    Announce(MakeLinkRecord("\xCA\xFD\xD1\xA7", "http://127.0.0.1/again"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"\xCA\xFD\xD1\xA7", "\xCA\xFD\xD1\xA8"}));
    EXPECT_STREQ(Slot(0).url, "http://127.0.0.1/again");
}

TEST_F(LinkReceiverTest, AReplacementKeepsTheCountAndTheOrder)
{
    for (const char* name : {"a", "b", "c"})
        Announce(MakeLinkRecord(name));
    Announce(MakeLinkRecord("b", "http://127.0.0.1/b2"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_STREQ(Slot(1).url, "http://127.0.0.1/b2");
}

TEST_F(LinkReceiverTest, ThirtyNamesFillTheStoreAndKnownNamesStillUpdate)
{
    for (int i = 0; i < CLinkRecordStore::kCapacity; ++i)
        Announce(MakeLinkRecord("link" + std::to_string(i)));
    ASSERT_EQ(m_receiver.GetCount(), 30);
    Announce(MakeLinkRecord("link30"));
    EXPECT_FALSE(m_receiver.AddRecord(MakeLinkRecord("another")));
    EXPECT_EQ(m_receiver.GetCount(), 30);

    EXPECT_TRUE(m_receiver.AddRecord(MakeLinkRecord("LINK0", "http://127.0.0.1/updated")));
    EXPECT_STREQ(Slot(0).url, "http://127.0.0.1/updated");
    EXPECT_STREQ(Slot(29).name, "link29");
}

TEST_F(LinkReceiverTest, GetRecordOutsideTheCountLeavesTheDestinationAlone)
{
    Announce(MakeLinkRecord("only"));
    LinkRecord destination;
    std::memset(&destination, 0x6B, sizeof destination);
    const LinkRecord untouched = destination;
    EXPECT_FALSE(m_receiver.GetRecord(-1, destination));
    EXPECT_FALSE(m_receiver.GetRecord(m_receiver.GetCount(), destination));
    EXPECT_TRUE(SameRecord(destination, untouched));
}

TEST_F(LinkReceiverTest, TheStoreIsTheOneTheReceiverFills)
{
    Announce(MakeLinkRecord("shared"));
    EXPECT_EQ(m_receiver.Store().GetCount(), 1);
    m_receiver.Store().AddRecord(MakeLinkRecord("direct"));
    EXPECT_EQ(m_receiver.GetCount(), 2);
}

TEST_F(LinkReceiverTest, ANameFillingItsWholeFieldStaysWithinIt)
{
    LinkRecord first = MakeLinkRecord("");
    std::memset(first.name, 'x', sizeof first.name);
    LinkRecord second = first;
    std::strcpy(second.caption, "\xBB\xBB");  // the caption's bytes are not part of the name
    Announce(first);
    Announce(second);
    ASSERT_EQ(m_receiver.GetCount(), 1);
    EXPECT_TRUE(SameRecord(Slot(0), second));
}

} // namespace
} // namespace kestrel
