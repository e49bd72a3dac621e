// The room's table and summary: which reports are taken, how long a machine
// stays, and the summary's JSON as the page parses it.

#include "tools/RoomSummary.h"
#include "tools/RoomTable.h"
#include "tools/RoomText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>

namespace kestrel {
namespace {

constexpr std::uint16_t kRoomPort = 9000;
constexpr std::uint32_t kValidFor = 10;
constexpr CatalogueDigest kOnAir = {1, 2, 3, 4, 5, 6, 7, 8};
// 10.9.0.0/16 is named; 127.0.0.0/8 is the loopback card's.
constexpr std::uint32_t kNamed = 0x0A090000;
constexpr std::uint32_t kLoopback = 0x7F000009;
constexpr std::uint32_t kStranger = 0xCB007107; // 203.0.113.7

ScreenReport Report(const char* machine, const CatalogueDigest& digest = kOnAir)
{
    ScreenReport report;
    report.flags = kReportComplete;
    report.channelPort = kRoomPort;
    report.digest = digest;
    SetReportText(report.machine, machine);
    SetReportText(report.login, "pupil");
    SetReportText(report.version, "1.0");
    return report;
}

class RoomTableTest : public ::testing::Test {
protected:
    RoomTableTest() : m_subnets({Subnet{kNamed, 0xFFFF0000}}), m_table(std::make_unique<CRoomTable>(kRoomPort, kValidFor, m_subnets))
    {
        m_table->SetOnAir(kOnAir);
    }

    void Send(std::uint32_t address, const ScreenReport& report, std::int64_t nowMs,
        const std::function<void(unsigned char*)>& spoil = nullptr)
    {
        unsigned char frame[kReportFrameSize];
        EncodeReportFrame(report, frame);
        if (spoil)
            spoil(frame);
        m_table->Take(address, frame, sizeof frame, nowMs);
    }

    std::string ShownName(int position) const { return m_table->Machine(position).report.machine; }

    CReportSubnets m_subnets;
    std::unique_ptr<CRoomTable> m_table;
};

TEST_F(RoomTableTest, OnlyWellFormedReportsOfThisRoomFromKnownSubnetsAreTaken)
{
    ScreenReport otherRoom = Report("pc");
    otherRoom.channelPort = kRoomPort + 1;
    struct Case {
        const char* what;
        std::uint32_t address;
        ScreenReport report;
        std::function<void(unsigned char*)> spoil;
        std::uint64_t RoomDrops::*dropped;
    };
    const Case cases[] = {
        {"a named subnet", kNamed + 5, Report("pc"), nullptr, nullptr},
        {"the loopback card's subnet", kLoopback, Report("pc"), nullptr, nullptr},
        {"a stranger", kStranger, Report("pc"), nullptr, &RoomDrops::outside},
        {"a spoilt byte", kNamed + 5, Report("pc"), [](unsigned char* f) { f[kFrameHeaderSize + 40] ^= 1; },
            &RoomDrops::malformed},
        {"another room", kNamed + 5, otherRoom, nullptr, &RoomDrops::otherRoom},
    };
    for (const Case& c : cases) {
        m_table = std::make_unique<CRoomTable>(kRoomPort, kValidFor, m_subnets);
        Send(c.address, c.report, 0, c.spoil);
        EXPECT_EQ(m_table->Count(), c.dropped ? 0 : 1) << c.what;
        if (c.dropped) {
            EXPECT_EQ(m_table->Drops().*c.dropped, 1u) << c.what;
        }
    }
    unsigned char shortFrame[kReportFrameSize - 1] = {};
    m_table->Take(kNamed + 5, shortFrame, sizeof shortFrame, 0);
    EXPECT_EQ(m_table->Drops().malformed, 1u);
}

TEST_F(RoomTableTest, OneReportASecondPerAddressTheLatestWaitingForItsTurn)
{
    Send(kNamed + 1, Report("first"), 0);
    Send(kNamed + 1, Report("second"), 100);
    Send(kNamed + 1, Report("third"), 200);
    Send(kNamed + 2, Report("neighbour"), 300);
    EXPECT_EQ(m_table->Drops().tooOften, 1u) << "the second, replaced while waiting";
    m_table->Tick(999);
    EXPECT_EQ(ShownName(0), "first");
    EXPECT_EQ(ShownName(1), "neighbour") << "each address has its own second";
    m_table->Tick(1000);
    EXPECT_EQ(ShownName(0), "third");
    EXPECT_EQ(m_table->Machine(0).heardMs, 200);
    // Its second counts from when it was taken.
    Send(kNamed + 1, Report("fourth"), 1500);
    m_table->Tick(1999);
    EXPECT_EQ(ShownName(0), "third");
    m_table->Tick(2000);
    EXPECT_EQ(ShownName(0), "fourth");
}

TEST_F(RoomTableTest, OfflineAfterThreeReportPeriodsForgottenAfterAnHour)
{
    Send(kNamed + 1, Report("pc"), 0);
    EXPECT_TRUE(m_table->Applied(m_table->Machine(0)));
    const std::int64_t offlineAfter = kValidFor * 1000 / 2 * CRoomTable::kPeriodsToOffline;
    m_table->TakeChanged();
    m_table->Tick(offlineAfter - 1);
    EXPECT_FALSE(m_table->Machine(0).offline);
    EXPECT_FALSE(m_table->TakeChanged());
    m_table->Tick(offlineAfter);
    EXPECT_TRUE(m_table->Machine(0).offline);
    EXPECT_FALSE(m_table->Applied(m_table->Machine(0))) << "an offline screen shows nothing";
    EXPECT_TRUE(m_table->TakeChanged());
    Send(kNamed + 1, Report("pc"), offlineAfter + 1);
    EXPECT_TRUE(m_table->Applied(m_table->Machine(0)));
    m_table->Tick(offlineAfter + CRoomTable::kForgetAfterMs);
    EXPECT_EQ(m_table->Count(), 1);
    m_table->Tick(offlineAfter + 1 + CRoomTable::kForgetAfterMs);
    EXPECT_EQ(m_table->Count(), 0);
}

TEST_F(RoomTableTest, HoldsAMachineForEach4096AddressesThenCountsTheRestUntilOneIsForgotten)
{
    // Every text at its longest, all escaped: the summary still fits what its readers read.
    ScreenReport longest = Report("");
    const auto fill = [](auto&... texts) { (SetReportText(texts, std::string(sizeof texts, '<')), ...); };
    fill(longest.machine, longest.login, longest.pageHost, longest.version);
    // From the top down, so that every new address goes first in order.
    for (std::uint32_t i = CRoomTable::kCapacity; i > 0; --i)
        Send(kNamed + i, longest, 0);
    ASSERT_EQ(m_table->Count(), CRoomTable::kCapacity);
    EXPECT_LE(RoomSummaryText(*m_table, RoomDrops(), 0, 0, "1.0").size(), kLargestRoomSummary);
    EXPECT_EQ(m_table->Machine(0).address, kNamed + 1);
    EXPECT_EQ(m_table->Machine(CRoomTable::kCapacity - 1).address, kNamed + CRoomTable::kCapacity);
    Send(kNamed + 0xFFFF, Report("late"), 0);
    EXPECT_EQ(m_table->Drops().full, 1u);
    Send(kNamed + 7, Report("again"), CRoomTable::kForgetAfterMs - 1);
    m_table->Tick(CRoomTable::kForgetAfterMs);
    ASSERT_EQ(m_table->Count(), 1);
    Send(kNamed + 0xFFFF, Report("late"), CRoomTable::kForgetAfterMs);
    EXPECT_EQ(m_table->Count(), 2);
    EXPECT_EQ(ShownName(1), "late");
}

TEST_F(RoomTableTest, TheSummaryListsProblemsFirstAndParsesBackWithEveryTextInert)
{
    const std::string hostile = "<img src=x onerror=\"alert(1)\"> & 张三";
    Send(kNamed + 3, Report("applied"), 0);
    Send(kNamed + 2, Report(hostile.c_str(), CatalogueDigest{9}), 0);
    ScreenReport withheld = Report("quiet");
    withheld.flags |= kReportWithheld;
    withheld.mode = ClassroomMode::LessonOnly;
    Send(kNamed + 1, withheld, 0);
    Send(kNamed + 4, Report("old"), -20000);
    m_table->Tick(3000);
    Send(kStranger, Report("x"), 3000);

    const std::string text = RoomSummaryText(*m_table, RoomDrops(), 3000, 1765000000, "1.0");
    EXPECT_EQ(text.find_first_of("<>&"), std::string::npos) << text;
    const nlohmann::json room = nlohmann::json::parse(text);
    EXPECT_EQ(room["port"], kRoomPort);
    EXPECT_EQ(room["onAir"], "0102030405060708");
    EXPECT_EQ(room["written"], 1765000000);
    EXPECT_EQ(room["counts"], nlohmann::json::parse(
        R"({"machines": 4, "applied": 2, "stale": 1, "offline": 1, "otherVersion": 0})"));
    EXPECT_EQ(room["dropped"]["outside"], 1);
    const nlohmann::json& machines = room["machines"];
    ASSERT_EQ(machines.size(), 4u);
    const char* order[] = {"old", hostile.c_str(), "quiet", "applied"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(machines[i]["name"], order[i]) << i;
    EXPECT_EQ(machines[0]["offline"], true);
    EXPECT_EQ(machines[0]["heardAgo"], 23);
    EXPECT_EQ(machines[1]["address"], "10.9.0.2");
    EXPECT_EQ(machines[1]["applied"], false);
    EXPECT_EQ(machines[2]["mode"], "lessonOnly");
    EXPECT_EQ(machines[2]["withheld"], true);
    EXPECT_EQ(machines[3]["login"], "pupil");

    std::string table;
    std::string error;
    ASSERT_TRUE(RoomTableText(text, 1765000002, table, error)) << error;
    EXPECT_NE(table.find("room on port 9000: 2/4 applied, 1 not applied, 1 offline"), std::string::npos) << table;
    EXPECT_NE(table.find("10.9.0.2        not applied  open       3 s     1.0       " + hostile + " pupil -"),
        std::string::npos) << table;
    EXPECT_FALSE(RoomTableText("{\"port\": \"x\"}", 0, table, error));
}

} // namespace
} // namespace kestrel
