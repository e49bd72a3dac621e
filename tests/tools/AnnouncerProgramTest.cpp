// The announcer as a program: what it sends, what it refuses, what it hears
// and what it serves. Everything runs on 127.0.0.1, on ports the system
// picked, with bounded waits.

#include "tests/tools/ChildProcess.h"
#include "tests/support/HttpAttacks.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/tools/UdpProbe.h"

#include "base/GbkText.h"
#include "base/WholeFile.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/FrameFormat.h"
#include "channel/FrameWriter.h"
#include "channel/LinkRecordFrame.h"
#include "channel/LinkReceiver.h"
#include "channel/ReportFrame.h"
#include "channel/SignedLinkRecordFrame.h"
#include "tests/support/LinkRecordBuilder.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <sys/stat.h>
#include <vector>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

std::string Gbk(const std::string& utf8)
{
    std::string gbk;
    Utf8ToGbk(utf8, gbk);
    return gbk;
}

const std::string kCatalogue = "[home]\n"
                               "url = http://127.0.0.1/index.html\n"
                               "[link]\n"
                               "name = 语文\n"
                               "caption = 语文课\n"
                               "url = http://127.0.0.1/yuwen.html\n"
                               "picture = http://127.0.0.1/yuwen-hot.bmp\n"
                               "cool-picture = http://127.0.0.1/yuwen-cool.bmp\n"
                               "[link]\n"
                               "name = Music\n";

class AnnouncerProgramTest : public ::testing::Test {
protected:
    AnnouncerProgramTest() : m_cataloguePath(m_folder.Path() + "/catalogue.ini") {}

    // The announcer's command line, sending to the probe.
    std::vector<std::string> SendingToProbe(std::vector<std::string> options) const
    {
        options.insert(options.begin(), {KESTREL_ANNOUNCE_PATH, "--to", "127.0.0.1", "--port", std::to_string(m_probe.Port())});
        options.push_back(m_cataloguePath);
        return options;
    }

    // Receives up to `count` datagrams until `taken` takes one (from
    // `probe`, or m_probe when null).
    template <typename Taken>
    bool ReceiveUntil(int count, std::chrono::milliseconds timeout, Taken taken, test::UdpProbe* probe = nullptr)
    {
        unsigned char datagram[kDatagramSize] = {};
        for (int i = 0; i < count; ++i) {
            const long size = (probe ? *probe : m_probe).Receive(datagram, sizeof datagram, timeout);
            if (size <= 0)
                return false;
            if (taken(FrameView(datagram, static_cast<std::size_t>(size))))
                return true;
        }
        return false;
    }

    // The next record from the probe, taken in by the browser's own
    // receiver past the state that starts each round; false when none came
    // or the receiver kept no record from it.
    bool ReceiveRecord(LinkRecord& record, std::chrono::milliseconds timeout, test::UdpProbe* probe = nullptr)
    {
        bool kept = false;
        const bool came = ReceiveUntil(2, timeout, [&](FrameView frame) {
            if (frame.Type() == kClassroomStateFrameType)
                return false;
            CLinkReceiver receiver;
            receiver.Feed(frame.Bytes(), frame.Size());
            kept = receiver.GetRecord(0, record);
            return true;
        }, probe);
        return came && kept;
    }

    bool ReceiveState(ClassroomState& state, std::chrono::milliseconds timeout)
    {
        return ReceiveUntil(10, timeout, [&](FrameView frame) {
            return ReadClassroomStateFrame(frame, state) == StateFault::None;
        });
    }

    // Receives until a record named `name` comes, at most 50 datagrams.
    bool ReceiveUntilNamed(const std::string& name, test::UdpProbe* probe = nullptr)
    {
        LinkRecord record;
        for (int i = 0; i < 50; ++i) {
            if (!ReceiveRecord(record, 2s, probe))
                return false;
            if (FieldText(record.name) == name)
                return true;
        }
        return false;
    }

    static constexpr std::size_t kDatagramSize = 8192;

    test::TemporaryFolder m_folder;
    test::UdpProbe m_probe;
    std::string m_cataloguePath;
};

TEST_F(AnnouncerProgramTest, FramesAreKeptByTheReceiverByteForByte)
{
    m_folder.Write(m_cataloguePath, kCatalogue);
    test::ChildProcess announcer(SendingToProbe({"--once"}));
    ASSERT_EQ(announcer.WaitForExit(10s), 0) << announcer.Output();

    CLinkReceiver receiver;
    unsigned char datagram[kDatagramSize];
    // The state comes first and lists the links; the home record, then the links.
    ASSERT_EQ(m_probe.Receive(datagram, sizeof datagram, 2s), static_cast<long>(kFrameHeaderSize + kClassroomStateSize));
    ClassroomState state;
    ASSERT_EQ(ReadClassroomStateFrame(FrameView(datagram, sizeof datagram), state), StateFault::None);
    EXPECT_EQ(state.linkCount, 2);
    EXPECT_EQ(FrameView(datagram, sizeof datagram).BoundPort(), m_probe.Port());
    for (int i = 0; i < 3; ++i) {
        const long size = m_probe.Receive(datagram, sizeof datagram, 2s);
        ASSERT_EQ(size, static_cast<long>(kLinkRecordFrameSize));
        EXPECT_EQ(FrameView(datagram, sizeof datagram).BoundPort(), 0) << "unsigned records are sent as ever";
        receiver.Feed(datagram, static_cast<std::size_t>(size));
    }
    EXPECT_EQ(m_probe.Receive(datagram, sizeof datagram, 100ms), -1) << "--once sends each record once";

    const LinkRecord expected[] = {
        test::LinkRecordBuilder("home").Url("http://127.0.0.1/index.html"),
        test::LinkRecordBuilder(Gbk("语文"))
            .Caption(Gbk("语文课"))
            .Url("http://127.0.0.1/yuwen.html")
            .HotPicture("http://127.0.0.1/yuwen-hot.bmp")
            .CoolPicture("http://127.0.0.1/yuwen-cool.bmp"),
        test::LinkRecordBuilder("Music"),
    };
    ASSERT_EQ(receiver.GetCount(), 3);
    for (int i = 0; i < 3; ++i) {
        LinkRecord received;
        ASSERT_TRUE(receiver.GetRecord(i, received));
        EXPECT_EQ(std::memcmp(&received, &expected[i], sizeof received), 0) << "record " << i;
    }
}

TEST_F(AnnouncerProgramTest, EveryCatalogueProblemIsNamedAndNothingIsSent)
{
    std::string tooLongName;
    for (int i = 0; i < 64; ++i)
        tooLongName += "中";
    std::string twentyOneLinks;
    for (int i = 1; i <= 21; ++i)
        twentyOneLinks += "[link]\nname = link" + std::to_string(i) + "\n";

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[link]\nname = " + tooLongName + "\n", ":2: name is 128 bytes in GBK; at most 127 fit"},
        {"[link]\nname = a\ncaption = 😀\n", ":3: caption: the character \"😀\" (U+1F600) has no GBK form"},
        {twentyOneLinks, ":41: more than 20 links"},
        {"[link]\nname = a\ncolour = red\n", ":3: unknown key \"colour\" in [link]"},
        {"[link]\nname = a\n[link]\nname = A\n", ":4: the name \"A\" is already used on line 2"},
        {"[link]\nurl = http://127.0.0.1/\n", ":1: this [link] section has no name"},
    };
    for (const auto& [text, problem] : cases) {
        m_folder.Write(m_cataloguePath, text);
        test::ChildProcess announcer(SendingToProbe({"--once"}));
        EXPECT_EQ(announcer.WaitForExit(10s), 1);
        EXPECT_NE(announcer.Output().find(m_cataloguePath + problem), std::string::npos) << announcer.Output();
        EXPECT_NE(announcer.Output().find("nothing is announced until the catalogue is valid"), std::string::npos);
        unsigned char datagram[kDatagramSize];
        EXPECT_EQ(m_probe.Receive(datagram, sizeof datagram, 50ms), -1) << problem;
    }
}

TEST_F(AnnouncerProgramTest, EditsArePickedUpAndABrokenEditKeepsTheLastCatalogue)
{
    m_folder.Write(m_cataloguePath, "[link]\nname = first\n");
    test::ChildProcess announcer(SendingToProbe({"--interval", "0.1"}));
    ASSERT_TRUE(ReceiveUntilNamed("first")) << announcer.Output();

    m_folder.Write(m_cataloguePath, "[link]\nname = second\n");
    ASSERT_TRUE(ReceiveUntilNamed("second")) << announcer.Output();

    m_folder.Write(m_cataloguePath, "[link]\nname = third\nlabel = oops\n");
    ASSERT_TRUE(announcer.WaitForOutput("still announcing the last valid catalogue", 5s)) << announcer.Output();
    EXPECT_NE(announcer.Output().find(m_cataloguePath + ":3: unknown key \"label\""), std::string::npos);
    // Whatever was already on its way, every datagram after the report is
    // the last valid catalogue's.
    LinkRecord record;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(ReceiveRecord(record, 2s));
        EXPECT_EQ(FieldText(record.name), "second");
    }
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, APublishedCatalogueIsAnnouncedWhileItExists)
{
    const std::string publishedPath = m_folder.Path() + "/published.ini";
    m_folder.Write(m_cataloguePath, "[link]\nname = staff\n");
    test::ChildProcess announcer(SendingToProbe({"--interval", "0.1", "--published", publishedPath}));
    ASSERT_TRUE(ReceiveUntilNamed("staff")) << announcer.Output();
    EXPECT_EQ(announcer.Output().find("published.ini"), std::string::npos) << "no file published yet is no fault";

    m_folder.Write(publishedPath, "[link]\nname = teacher\n");
    ASSERT_TRUE(ReceiveUntilNamed("teacher")) << announcer.Output();
    LinkRecord record;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(ReceiveRecord(record, 2s));
        EXPECT_EQ(FieldText(record.name), "teacher");
    }
    // Taken away, IT staff's own catalogue is back on the air.
    ASSERT_EQ(std::remove(publishedPath.c_str()), 0);
    ASSERT_TRUE(ReceiveUntilNamed("staff")) << announcer.Output();
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, APublishedStateGoesOutAtOnceNotAtTheNextRound)
{
    m_folder.Write(m_cataloguePath, kCatalogue);
    const std::string folder = m_folder.Path() + "/published";
    test::ChildProcess announcer(SendingToProbe({"--interval", "60", "--published-state", folder + "/state.ini"}));
    ClassroomState state;
    ASSERT_TRUE(ReceiveState(state, 5s)) << announcer.Output();
    EXPECT_EQ(state.mode, ClassroomMode::Open);
    // The folder appears, then the file in it is replaced: both are seen.
    std::filesystem::create_directory(folder);
    const long until = static_cast<long>(std::time(nullptr)) + 100;
    m_folder.Write(folder + "/state.ini", "mode = paused\npause-until = " + std::to_string(until) + "\n");
    ASSERT_TRUE(ReceiveState(state, 5s)) << announcer.Output();
    EXPECT_EQ(state.mode, ClassroomMode::Paused);
    EXPECT_GT(state.pauseCountdownSeconds, 90u);
    m_folder.Write(folder + "/state.ini", "mode = lesson\n");
    ASSERT_TRUE(ReceiveState(state, 5s)) << announcer.Output();
    EXPECT_EQ(state.mode, ClassroomMode::LessonOnly);
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, TheJournalAndTheOnAirFolderSayWhichFileIsOnTheAir)
{
    const std::string publishedPath = m_folder.Path() + "/published.ini";
    const std::string onAir = m_folder.Path() + "/on-air";
    const auto onAirFile = [&](const char* name) {
        std::string text;
        ReadWholeFile(onAir + "/" + name, 1 << 20, text);
        return text;
    };
    const std::string own = "[link]\nname = staff\n";
    m_folder.Write(m_cataloguePath, own);
    test::ChildProcess announcer(SendingToProbe({"--interval", "0.1", "--published", publishedPath, "--on-air", onAir}));
    ASSERT_TRUE(announcer.WaitForOutput("on the air: " + m_cataloguePath + " (nothing is published): announcing 1 link", 5s))
        << announcer.Output();
    EXPECT_EQ(onAirFile("on-air.ini"), own);
    EXPECT_EQ(onAirFile("on-air.status"), "source=" + m_cataloguePath + "\n");

    const std::string published = "[home]\nurl = http://127.0.0.1/\n[link]\nname = teacher\n";
    m_folder.Write(publishedPath, published);
    ASSERT_TRUE(announcer.WaitForOutput(
        "on the air: " + publishedPath + " (the published catalogue): announcing 1 link and the home page", 5s))
        << announcer.Output();
    EXPECT_EQ(onAirFile("on-air.ini"), published);

    // An edit of the file that does not go out is not announced.
    m_folder.Write(m_cataloguePath, own + "[link]\nname = b\n");
    ASSERT_TRUE(announcer.WaitForOutput(m_cataloguePath + ": 2 links, valid; not on the air while " + publishedPath, 5s))
        << announcer.Output();

    m_folder.Write(publishedPath, "[link]\nlabel = oops\n");
    ASSERT_TRUE(announcer.WaitForOutput("still announcing the last valid catalogue", 5s)) << announcer.Output();
    EXPECT_EQ(onAirFile("on-air.ini"), published);
    EXPECT_EQ(onAirFile("on-air.status"), "source=" + publishedPath + "\nrefused=" + publishedPath
            + ":2: unknown key \"label\" in [link]; it takes name, caption, url, picture and cool-picture\n");

    ASSERT_EQ(std::remove(publishedPath.c_str()), 0);
    ASSERT_TRUE(announcer.WaitForOutput("(nothing is published): announcing 2 links", 5s)) << announcer.Output();
    EXPECT_EQ(onAirFile("on-air.status"), "source=" + m_cataloguePath + "\n");
    const std::string& output = announcer.Output();
    EXPECT_EQ(output.find("announcing 2 links"), output.rfind("announcing 2 links")) << output;
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, AReportOverLoopbackShowsInTheRoomViewAndASecondAnnouncerLeavesItsPortAlone)
{
    m_folder.Write(m_cataloguePath, kCatalogue);
    const std::string onAir = m_folder.Path() + "/on-air";
    const std::string reportPort = std::to_string(test::FreePort(SOCK_DGRAM));
    test::ChildProcess announcer(SendingToProbe({"--interval", "0.2", "--on-air", onAir, "--report-port", reportPort}));
    ClassroomState state;
    ASSERT_TRUE(ReceiveState(state, 5s)) << announcer.Output();
    EXPECT_EQ(std::to_string(state.reportPort), reportPort);

    ScreenReport report;
    report.flags = kReportComplete;
    report.channelPort = static_cast<std::uint16_t>(m_probe.Port());
    report.digest = state.digest;
    SetReportText(report.machine, "pc<01>");
    unsigned char frame[kReportFrameSize];
    EncodeReportFrame(report, frame);
    ASSERT_TRUE(m_probe.SendTo(std::stoi(reportPort), frame, sizeof frame));
    nlohmann::json room;
    for (int i = 0; i < 50 && !(room.is_object() && room["counts"]["applied"] == 1); ++i) {
        std::this_thread::sleep_for(100ms);
        std::string text;
        ReadWholeFile(onAir + "/room.json", 1 << 20, text);
        room = nlohmann::json::parse(text, nullptr, false);
    }
    ASSERT_TRUE(room.is_object()) << announcer.Output();
    ASSERT_EQ(room["machines"].size(), 1u) << room.dump();
    EXPECT_EQ(room["machines"][0]["address"], "127.0.0.1");
    EXPECT_EQ(room["machines"][0]["name"], "pc<01>");
    EXPECT_EQ(room["machines"][0]["applied"], true);

    test::ChildProcess table({KESTREL_ANNOUNCE_PATH, "--room", "--on-air", onAir});
    EXPECT_EQ(table.WaitForExit(5s), 0);
    EXPECT_NE(table.Output().find("1/1 applied"), std::string::npos) << table.Output();
    EXPECT_NE(table.Output().find("127.0.0.1       applied"), std::string::npos) << table.Output();

    // Its states name no report port: its screens report to nobody.
    test::UdpProbe secondProbe;
    test::ChildProcess second({KESTREL_ANNOUNCE_PATH, "--to", "127.0.0.1", "--port", std::to_string(secondProbe.Port()),
        "--on-air", m_folder.Path() + "/second", "--report-port", reportPort, m_cataloguePath});
    EXPECT_TRUE(second.WaitForOutput("report port " + reportPort + ": Address already in use", 5s)) << second.Output();
    unsigned char datagram[kDatagramSize];
    ASSERT_GT(secondProbe.Receive(datagram, sizeof datagram, 5s), 0);
    ASSERT_EQ(ReadClassroomStateFrame(FrameView(datagram, sizeof datagram), state), StateFault::None);
    EXPECT_EQ(state.reportPort, 0);
    EXPECT_EQ(announcer.Stop(), 0);
    EXPECT_EQ(second.Stop(), 0);
}

// Two rooms of a rooms file, each on its own port with its own published
// files and room view; a third that takes the second's port is named and
// left out.
TEST_F(AnnouncerProgramTest, EveryRoomGoesOutOnItsOwnPortAndItsReportsIntoItsOwnView)
{
    test::UdpProbe second;
    const std::string ports[] = {std::to_string(m_probe.Port()), std::to_string(second.Port())};
    const std::string roomsPath = m_folder.Path() + "/rooms.ini";
    m_folder.Write(roomsPath, "[room]\nid = a\nport = " + ports[0] + "\nto = 127.0.0.1\n[room]\nid = b\nname = 三年二班\n"
        "port = " + ports[1] + "\nto = 127.0.0.1\n[room]\nid = c\nport = " + ports[1] + "\nto = 127.0.0.1\n");
    m_folder.Write(m_cataloguePath, "[link]\nname = staff\n");
    // What the one room published before rooms moves into the first.
    const std::string state = m_folder.Path() + "/state";
    std::filesystem::create_directory(state);
    m_folder.Write(state + "/catalogue.ini", "[link]\nname = before\n");
    const std::string onAir = m_folder.Path() + "/on-air";
    const int reportPort = test::FreePort(SOCK_DGRAM);
    test::ChildProcess announcer({KESTREL_ANNOUNCE_PATH, "--rooms", roomsPath, "--interval", "0.2", "--published",
        state + "/catalogue.ini", "--on-air", onAir, "--report-port", std::to_string(reportPort), m_cataloguePath});
    ASSERT_TRUE(ReceiveUntilNamed("before")) << announcer.Output();
    ASSERT_TRUE(ReceiveUntilNamed("staff", &second)) << announcer.Output();
    EXPECT_TRUE(announcer.WaitForOutput(roomsPath + ":10: port " + ports[1] + " is room b's already", 5s))
        << announcer.Output();

    m_folder.Write(state + "/rooms/b/catalogue.ini", "[link]\nname = teacher\n");
    ASSERT_TRUE(ReceiveUntilNamed("teacher", &second)) << announcer.Output();
    LinkRecord record;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(ReceiveRecord(record, 2s));
        EXPECT_EQ(FieldText(record.name), "before") << "a publish in one room leaves the other alone";
    }

    ScreenReport report;
    report.channelPort = static_cast<std::uint16_t>(second.Port());
    unsigned char frame[kReportFrameSize];
    EncodeReportFrame(report, frame);
    ASSERT_TRUE(m_probe.SendTo(reportPort, frame, sizeof frame));
    const auto machines = [&](const char* room) {
        std::string text;
        ReadWholeFile(onAir + "/rooms/" + room + "/room.json", 1 << 20, text);
        const nlohmann::json summary = nlohmann::json::parse(text, nullptr, false);
        return summary.is_object() ? summary["counts"]["machines"].get<int>() : -1;
    };
    for (int i = 0; i < 50 && machines("b") != 1; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(machines("b"), 1) << announcer.Output();
    EXPECT_EQ(machines("a"), 0);

    test::ChildProcess table({KESTREL_ANNOUNCE_PATH, "--room", "--rooms", roomsPath, "--on-air", onAir});
    EXPECT_EQ(table.WaitForExit(5s), 0) << table.Output();
    EXPECT_NE(table.Output().find("== b 三年二班\nroom on port " + ports[1] + ": 0/1 applied"), std::string::npos)
        << table.Output();
    EXPECT_NE(table.Output().find("room on port " + ports[0] + ": 0/0 applied"), std::string::npos);
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, ListenPrintsWhatAnotherAnnouncerSends)
{
    const std::string port = std::to_string(test::FreePort(SOCK_DGRAM));
    test::ChildProcess listener({KESTREL_ANNOUNCE_PATH, "--listen", "--from", "127.0.0.1", "--port", port});
    ASSERT_TRUE(listener.WaitForOutput("listening for link records on 127.0.0.1:" + port, 5s)) << listener.Output();

    m_folder.Write(m_cataloguePath, kCatalogue);
    test::ChildProcess announcer({KESTREL_ANNOUNCE_PATH, "--once", "--to", "127.0.0.1", "--port", port, m_cataloguePath});
    ASSERT_EQ(announcer.WaitForExit(10s), 0) << announcer.Output();

    EXPECT_TRUE(listener.WaitForOutput("name=\"Music\"", 5s)) << listener.Output();
    EXPECT_NE(listener.Output().find("name=\"home\" caption=\"\" url=\"http://127.0.0.1/index.html\""), std::string::npos);
    EXPECT_NE(listener.Output().find(": name=\"语文\" caption=\"语文课\" url=\"http://127.0.0.1/yuwen.html\" "
                                     "picture=\"http://127.0.0.1/yuwen-hot.bmp\" "
                                     "cool-picture=\"http://127.0.0.1/yuwen-cool.bmp\""),
        std::string::npos)
        << listener.Output();
    EXPECT_NE(listener.Output().find("from 127.0.0.1:"), std::string::npos);
    EXPECT_EQ(listener.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, ASignedAnnouncementIsVerifiedByListenAndKeptByASigningBrowser)
{
    m_folder.Write(m_cataloguePath, kCatalogue);
    const std::string keyPath = m_folder.Path() + "/announcer.key";
    // The trusted-keys line alone on standard output, as IT staff redirect it.
    const std::string keysPath = m_folder.Path() + "/trusted-keys";
    test::ChildProcess generator(
        {"/bin/sh", "-c", "exec \"$0\" --gen-key \"$1\" > \"$2\"", KESTREL_ANNOUNCE_PATH, keyPath, keysPath});
    ASSERT_EQ(generator.WaitForExit(10s), 0) << generator.Output();
    EXPECT_NE(generator.Output().find("written to " + keyPath), std::string::npos) << generator.Output();
    std::string keyLine;
    ReadWholeFile(keysPath, 4096, keyLine);
    EXPECT_EQ(keyLine.rfind("ed25519 ", 0), 0u) << keyLine;
    EXPECT_EQ(keyLine.find('\n'), keyLine.size() - 1) << keyLine;
    chmod(keysPath.c_str(), 0644);

    const std::string port = std::to_string(test::FreePort(SOCK_DGRAM));
    test::ChildProcess listener({KESTREL_ANNOUNCE_PATH, "--listen", "--from", "127.0.0.1", "--port", port, "--trust", keysPath});
    ASSERT_TRUE(listener.WaitForOutput("listening", 5s)) << listener.Output();
    const std::string statePath = m_folder.Path() + "/state/counter";
    test::ChildProcess announcer({KESTREL_ANNOUNCE_PATH, "--once", "--to", "127.0.0.1", "--port", port, "--key", keyPath,
                                  "--state", statePath, m_cataloguePath});
    ASSERT_EQ(announcer.WaitForExit(10s), 0) << announcer.Output();
    EXPECT_NE(announcer.Output().find("signing with key "), std::string::npos) << announcer.Output();
    EXPECT_TRUE(listener.WaitForOutput("name=\"Music\"", 5s)) << listener.Output();
    EXPECT_NE(listener.Output().find(", verified]"), std::string::npos) << listener.Output();
    EXPECT_EQ(listener.Output().find("NOT verified"), std::string::npos) << listener.Output();

    // A browser with the key on the channel's port keeps what the announcer
    // signs, the state included.
    struct : CSocketOwner {
        void WatchSocket(int) override {}
        void UnwatchSocket(int) override {}
    } owner;
    CLinkReceiver receiver;
    receiver.RequireSignatures(keysPath, "");
    const int channelPort = test::FreePort(SOCK_DGRAM);
    ASSERT_TRUE(receiver.Start("127.0.0.1", channelPort, &owner));
    test::ChildProcess prober({KESTREL_ANNOUNCE_PATH, "--once", "--to", "127.0.0.1", "--port",
                               std::to_string(channelPort), "--key", keyPath, "--state", statePath, "--mode", "lesson",
                               m_cataloguePath});
    ASSERT_EQ(prober.WaitForExit(10s), 0) << prober.Output();
    for (int i = 0; i < 4; ++i) {
        pollfd waiting = {receiver.SocketHandle(), POLLIN, 0};
        ASSERT_EQ(poll(&waiting, 1, 2000), 1);
        receiver.OnSocketNotify(static_cast<std::uintptr_t>(receiver.SocketHandle()), CChannelSocket::kReadEvent);
    }
    EXPECT_EQ(receiver.GetCount(), 3);
    ClassroomState state;
    ASSERT_TRUE(receiver.TakeState(state));
    EXPECT_EQ(state.mode, ClassroomMode::LessonOnly);
    EXPECT_TRUE(state.signedByTrustedKey);
}

TEST_F(AnnouncerProgramTest, ListenShowsOnlyWhatTheBrowsersKeep)
{
    const int port = test::FreePort(SOCK_DGRAM);
    test::ChildProcess listener({KESTREL_ANNOUNCE_PATH, "--listen", "--from", "127.0.0.1", "--port", std::to_string(port)});
    ASSERT_TRUE(listener.WaitForOutput("listening", 5s)) << listener.Output();

    // A record under marker 2, a frame of another type, then one the
    // browsers keep, all in one datagram.
    unsigned char ignoredMarker[kLinkRecordFrameSize];
    unsigned char otherType[kLinkRecordFrameSize];
    unsigned char kept[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(test::LinkRecordBuilder("marker two"), 2, ignoredMarker);
    const unsigned char zeros[kLinkRecordSize] = {};
    WriteFrame(kLinkRecordFrameType + 1, 0, zeros, sizeof zeros, otherType, sizeof otherType);
    EncodeLinkRecordFrame(test::LinkRecordBuilder("kept"), 1, kept);
    std::string datagram;
    for (const unsigned char* frame : {ignoredMarker, otherType, kept})
        datagram.append(reinterpret_cast<const char*>(frame), kLinkRecordFrameSize);
    ASSERT_TRUE(m_probe.SendTo(port, reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size()));

    ASSERT_TRUE(listener.WaitForOutput("name=\"kept\"", 5s)) << listener.Output();
    const std::string& output = listener.Output();
    EXPECT_EQ(output.find("from "), output.rfind("from ")) << "one record line only:\n" << output;
    EXPECT_EQ(listener.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, ServeAnswersWithTheFileAndItsLength)
{
    const std::string picture(1782, 'B');
    std::filesystem::create_directory(m_folder.Path() + "/pictures");
    m_folder.Write(m_folder.Path() + "/pictures/yuwen.bmp", picture);
    const int port = test::FreePort(SOCK_STREAM);
    test::ChildProcess server({KESTREL_ANNOUNCE_PATH, "--serve", m_folder.Path(), "--http-address", "127.0.0.1",
        "--http-port", std::to_string(port)});
    ASSERT_TRUE(server.WaitForOutput("serving", 5s)) << server.Output();

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    client.set_read_timeout(2);
    const auto found = client.Get("/pictures/yuwen.bmp");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, 200);
    EXPECT_EQ(found->get_header_value("Content-Length"), "1782");
    EXPECT_EQ(found->get_header_value("Content-Type"), "image/bmp");
    EXPECT_EQ(found->get_header_value("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(found->body, picture);
    const auto part = client.Get("/pictures/yuwen.bmp", {{"Range", "bytes=1780-"}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 1780-1781/1782");
    EXPECT_EQ(part->body, "BB");

    const auto missing = client.Get("/pictures/missing.bmp");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_TRUE(server.WaitForOutput("http: 404 for GET /pictures/missing.bmp", 5s)) << server.Output();
    EXPECT_EQ(server.Stop(), 0);
}

// Every attack of the shared table: refused or harmless, ordinary requests
// from another machine answered beside it and after it, memory bounded.
TEST_F(AnnouncerProgramTest, ServeWithstandsEveryAttackWhileOrdinaryRequestsAreAnswered)
{
    const std::string served = m_folder.Path() + "/served";
    std::filesystem::create_directories(served + "/pictures");
    m_folder.Write(served + "/pictures/yuwen.bmp", std::string(1782, 'B'));
    m_folder.Write(m_cataloguePath, kCatalogue);
    std::filesystem::create_symlink(m_cataloguePath, served + "/outside.ini");
    test::AttackTarget target;
    target.port = test::FreePort(SOCK_STREAM);
    target.path = "/pictures/yuwen.bmp";
    target.linkPath = "/outside.ini";
    test::ChildProcess server({KESTREL_ANNOUNCE_PATH, "--serve", served, "--http-address", "127.0.0.1",
        "--http-port", std::to_string(target.port)});
    ASSERT_TRUE(server.WaitForOutput("serving", 5s)) << server.Output();

    for (const test::HttpAttack& attack : test::WebLayerAttacks()) {
        const test::AttackReport report = test::RunAttack(attack, target, server.Pid());
        EXPECT_TRUE(report.outcome.harmless) << attack.name << ": " << report.outcome.detail;
        EXPECT_EQ(report.ordinaryUnanswered, 0)
            << attack.name << ": " << report.ordinaryUnanswered << " of " << report.ordinaryRequests;
        EXPECT_TRUE(report.answeredAfterwards) << attack.name;
        EXPECT_LT(report.peakKibAboveIdle, 64 << 10) << attack.name;
    }
    EXPECT_EQ(server.Stop(), 0) << server.Output();
}

TEST_F(AnnouncerProgramTest, AMissingServedFolderIsAnswered404UntilItAppearsWhileAnnouncingGoesOn)
{
    m_folder.Write(m_cataloguePath, "[link]\nname = first\n");
    const std::string pictures = m_folder.Path() + "/pictures";
    const int port = test::FreePort(SOCK_STREAM);
    test::ChildProcess announcer(SendingToProbe({"--interval", "0.1", "--serve", m_folder.Path(), "--serve-at",
        "/pictures/=" + pictures, "--http-address", "127.0.0.1", "--http-port", std::to_string(port)}));
    ASSERT_TRUE(announcer.WaitForOutput("cannot find the folder " + pictures, 5s)) << announcer.Output();
    ASSERT_TRUE(ReceiveUntilNamed("first")) << announcer.Output();

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(2);
    const auto missing = client.Get("/pictures/yuwen.bmp");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    std::filesystem::create_directory(pictures);
    m_folder.Write(pictures + "/yuwen.bmp", "BMP");
    const auto found = client.Get("/pictures/yuwen.bmp");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->body, "BMP");
    EXPECT_TRUE(announcer.WaitForOutput("found the folder " + pictures, 5s)) << announcer.Output();
    const auto page = client.Get("/catalogue.ini");
    ASSERT_TRUE(page) << "the folder at / is served beside it";
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(announcer.Stop(), 0);
}

TEST_F(AnnouncerProgramTest, UnknownSourceIsRefusedBeforeAnythingIsSent)
{
    m_folder.Write(m_cataloguePath, kCatalogue);
    test::ChildProcess announcer(SendingToProbe({"--once", "--from", "no-such-interface0"}));
    EXPECT_EQ(announcer.WaitForExit(10s), 1);
    EXPECT_NE(announcer.Output().find("\"no-such-interface0\" is neither an IPv4 address nor a network interface"),
        std::string::npos)
        << announcer.Output();
    unsigned char datagram[kDatagramSize];
    EXPECT_EQ(m_probe.Receive(datagram, sizeof datagram, 50ms), -1);
}

} // namespace
} // namespace kestrel
