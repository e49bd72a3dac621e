// What a screen tells the announcer: the report's bytes, the reporter's
// timing and where its reports go.
#include "channel/ClassroomStateFrame.h"
#include "channel/LinkReceiver.h"
#include "channel/ScreenReporter.h"
#include "tests/channel/LoopbackUdp.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/ListedState.h"
#include "tests/support/SignedFrames.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

using Frame = unsigned char[kReportFrameSize];

ScreenReport FullReport()
{
    ScreenReport report;
    report.mode = ClassroomMode::LessonOnly;
    report.flags = kReportComplete | kReportSigned;
    report.channelPort = 9000;
    report.digest = {1, 2, 3, 4, 5, 6, 7, 8};
    report.stateCounter = 0x0102030405060708;
    report.uptimeSeconds = 0x0A0B0C0D;
    SetReportText(report.machine, "pc-03");
    SetReportText(report.login, "pupil");
    SetReportText(report.pageHost, "example.org");
    SetReportText(report.version, "2.2");
    return report;
}

TEST(ReportFrameTest, TheBytesAreAsDocumentedAndReadBack)
{
    Frame frame;
    EncodeReportFrame(FullReport(), frame);
    const unsigned char header[] = {0xCA, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
    EXPECT_EQ(std::memcmp(frame + 6, header, sizeof header), 0);
    const unsigned char* p = frame + kFrameHeaderSize;
    const unsigned char fields[] = {'K', 'R', 'P', '1', 1, 3, 0x28, 0x23, 1, 2, 3, 4, 5, 6, 7, 8,
                                    8, 7, 6, 5, 4, 3, 2, 1, 0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(p, fields, sizeof fields), 0);
    for (const auto& [offset, text] : {std::pair(32, "pc-03"), {96, "pupil"}, {128, "example.org"}, {224, "2.2"}})
        EXPECT_STREQ(reinterpret_cast<const char*>(p + offset), text);

    ScreenReport read;
    ASSERT_EQ(ReadReportFrame(frame, sizeof frame, read), ReportFault::None);
    Frame again;
    EncodeReportFrame(read, again);
    EXPECT_EQ(std::memcmp(again, frame, sizeof frame), 0);
    EXPECT_EQ(ReadReportFrame(frame, sizeof frame - 1, read), ReportFault::WrongLength);
}

TEST(ReportFrameTest, TextsAreCutAtACharacterAndControlsBecomeQuestionMarks)
{
    ScreenReport report;
    SetReportText(report.machine, "\xE6\x9C\xBA" + std::string(62, 'x'));
    EXPECT_EQ(std::string(report.machine), "\xE6\x9C\xBA" + std::string(60, 'x')) << "63 bytes and the NUL";
    SetReportText(report.login, std::string(27, 'a') + "\xE6\x9C\xBA\xE6\x9C\xBA");
    EXPECT_EQ(std::string(report.login), std::string(27, 'a') + "\xE6\x9C\xBA") << "no half character";
    SetReportText(report.machine, "a\tb\xFF");
    EXPECT_STREQ(report.machine, "a?b?");
}

struct MalformedReport {
    const char* what;
    std::function<void(Frame&)> change;
    ReportFault fault;
    bool reseal = true;
};

TEST(ReportFrameTest, EveryMalformedReportIsRefusedWithItsReason)
{
    const auto text = [](std::size_t offset, const char* bytes) {
        return [=](Frame& f) { std::strcpy(reinterpret_cast<char*>(f + kFrameHeaderSize + offset), bytes); };
    };
    const auto fill = [](std::size_t offset, std::size_t size) {
        return [=](Frame& f) { std::memset(f + kFrameHeaderSize + offset, 'a', size); };
    };
    const MalformedReport cases[] = {
        {"a flipped byte", [](Frame& f) { f[40] ^= 1; }, ReportFault::WrongCheck, false},
        {"another type", [](Frame& f) { f[6] = 0xC9; }, ReportFault::NotAReport},
        {"marker 1", [](Frame& f) { f[7] = 1; }, ReportFault::WrongMarker},
        {"length field 255", [](Frame& f) { f[14] = 255, f[15] = 0; }, ReportFault::WrongLength},
        {"magic", [](Frame& f) { f[kFrameHeaderSize + 3] = '2'; }, ReportFault::WrongMagic},
        {"mode 3", [](Frame& f) { f[kFrameHeaderSize + 4] = 3; }, ReportFault::WrongMode},
        {"flag bit 3", [](Frame& f) { f[kFrameHeaderSize + 5] |= 8; }, ReportFault::WrongFlags},
        {"reserved", [](Frame& f) { f[kFrameHeaderSize + 31] = 1; }, ReportFault::ReservedSet},
        {"machine without NUL", fill(32, 64), ReportFault::TextWithoutEnd},
        {"login without NUL", fill(96, 32), ReportFault::TextWithoutEnd},
        {"host without NUL", fill(128, 96), ReportFault::TextWithoutEnd},
        {"version without NUL", fill(224, 32), ReportFault::TextWithoutEnd},
        {"a stray byte in the machine name", text(32, "pc\xFF"), ReportFault::WrongText},
        {"a control in the login", text(96, "a\nb"), ReportFault::WrongText},
        {"a host not ASCII", text(128, "\xC3\xA9t\xC3\xA9.fr"), ReportFault::WrongText},
        {"a Chinese machine name", text(32, "\xE6\x9C\xBA\xE6\x88\xBF"), ReportFault::None},
    };
    for (const MalformedReport& malformed : cases) {
        Frame frame;
        EncodeReportFrame(FullReport(), frame);
        malformed.change(frame);
        if (malformed.reseal)
            test::Reseal(frame, sizeof frame);
        ScreenReport read;
        EXPECT_EQ(ReadReportFrame(frame, sizeof frame, read), malformed.fault) << malformed.what;
    }
}

// A reporter on a clock the test moves, sending to a socket of the test's.
class ScreenReporterTest : public ::testing::Test {
protected:
    ScreenReporterTest()
    {
        m_store.AddRecord(test::LinkRecordBuilder("home").Url("http://school/"));
        m_store.AddRecord(test::LinkRecordBuilder("maths").Url("http://maths/"));
        m_state.signedByTrustedKey = true;
        m_state.counter = 77;
        m_state.reportAddress = htonl(INADDR_LOOPBACK);
        m_state.reportPort = test::BoundPort(m_announcer.Socket());
    }
    void Show(std::string_view host = "maths") { m_reporter.Show(ClassroomMode::Open, m_store, host, m_now); }
    // Runs the clock to the report due, which must come within [from, to]
    // ms from now; gives what arrived.
    ScreenReport NextReport(std::int64_t from, std::int64_t to)
    {
        const std::int64_t due = m_reporter.DueMs();
        EXPECT_GE(due, m_now + from);
        EXPECT_LE(due, m_now + to);
        m_now = due;
        m_reporter.SendWhenDue(m_now);
        ScreenReport report;
        unsigned char bytes[kReportFrameSize + 1];
        EXPECT_TRUE(test::WaitReadable(m_announcer.Socket()));
        const ssize_t size = ::recv(m_announcer.Socket(), bytes, sizeof bytes, MSG_DONTWAIT);
        EXPECT_EQ(ReadReportFrame(bytes, size, report), ReportFault::None);
        return report;
    }

    test::LoopbackUdp m_announcer;
    CLinkRecordStore m_store;
    ClassroomState m_state = test::ListedState({"maths"}, ClassroomMode::Open, 10);
    std::int64_t m_now = 50000;
    CScreenReporter m_reporter{ReportIdentity{"pc-03", "pupil", "2.2", false, 0}, 1};
};

TEST_F(ScreenReporterTest, OnlyASignedStateNamingAPortAndAnAddressStartsReports)
{
    const std::pair<const char*, std::function<void(ClassroomState&)>> cases[] = {
        {"unsigned", [](ClassroomState& s) { s.signedByTrustedKey = false; }},
        {"no report port", [](ClassroomState& s) { s.reportPort = 0; }},
        {"no report address", [](ClassroomState& s) { s.reportAddress = 0; }},
    };
    for (const auto& [what, change] : cases) {
        ClassroomState state = m_state;
        change(state);
        m_reporter.FollowState(state, 9000, m_now);
        Show();
        EXPECT_EQ(m_reporter.SendWhenDue(m_now + 100000), CScreenReporter::kNever) << what;
    }
    EXPECT_FALSE(test::WaitReadable(m_announcer.Socket(), 0));
}

TEST_F(ScreenReporterTest, AChangeIsReportedWithinASecondOtherwiseEveryHalfValidFor)
{
    m_reporter.FollowState(m_state, 9000, m_now);
    Show();
    const ScreenReport first = NextReport(0, 1000);
    CatalogueDigest digest{};
    ASSERT_TRUE(m_store.DigestListed(m_state, digest));
    EXPECT_TRUE(first.digest == digest && first.flags == (kReportComplete | kReportSigned));
    EXPECT_TRUE(first.stateCounter == 77 && first.channelPort == 9000 && first.uptimeSeconds == 50);

    // A new counter alone waits for the periodic report: half of ten
    // seconds, give or take a fifth.
    m_state.counter = 78;
    m_reporter.FollowState(m_state, 9000, m_now);
    Show();
    EXPECT_EQ(NextReport(4000, 6000).stateCounter, 78u);

    struct Change {
        const char* what;
        std::function<void()> make;
        std::function<bool(const ScreenReport&)> shows;
    };
    const Change changes[] = {
        {"page host", [&] { Show("art"); }, [](const ScreenReport& r) { return std::string(r.pageHost) == "art"; }},
        {"mode", [&] { m_reporter.Show(ClassroomMode::Paused, m_store, "art", m_now); },
         [](const ScreenReport& r) { return r.mode == ClassroomMode::Paused; }},
        {"a listed record", [&] { m_store.AddRecord(test::LinkRecordBuilder("maths").Url("http://m2/")), Show("art"); },
         [&](const ScreenReport& r) { return r.digest != digest && (r.flags & kReportComplete) != 0; }},
        {"a listed record missing",
         [&] {
             m_state.nameHashes[m_state.linkCount++] = HashLinkName("music");
             m_reporter.FollowState(m_state, 9000, m_now), Show("art");
         },
         [](const ScreenReport& r) { return r.digest == CatalogueDigest{} && r.flags == kReportSigned; }},
    };
    for (const Change& change : changes) {
        change.make();
        EXPECT_TRUE(change.shows(NextReport(0, 1000))) << change.what;
    }
    m_reporter.Stop();
    EXPECT_EQ(m_reporter.SendWhenDue(m_now + 100000), CScreenReporter::kNever);
}

TEST(ReportAddressTest, ASignedStateWithoutAnAddressSendsReportsToItsSender)
{
    const SigningKey key = test::FixedKey(3);
    CLinkReceiver receiver;
    receiver.RequireSignaturesOf({test::TrustOf(key)});
    test::FakeSocketOwner owner;
    const std::uint16_t port = test::FreeUdpPort();
    ASSERT_TRUE(receiver.Start("", port, &owner));
    EXPECT_EQ(receiver.ListeningPort(), port);
    test::LoopbackUdp announcer;
    std::uint64_t counter = 1796640000000;
    for (const std::uint32_t named : {0u, htonl(0x0A000001)}) {
        ClassroomState state = test::ListedState({});
        state.reportPort = 9099;
        state.reportAddress = named;
        unsigned char frame[kClassroomStateFrameSize];
        const std::size_t size = EncodeClassroomStateFrame(state, port, &key, ++counter, frame);
        ASSERT_TRUE(announcer.SendTo(port, test::Bytes(frame, frame + size)));
        ASSERT_TRUE(test::DeliverReadiness(receiver, receiver.SocketHandle()));
        ClassroomState taken;
        ASSERT_TRUE(receiver.TakeState(taken));
        EXPECT_EQ(taken.reportAddress, named != 0 ? named : htonl(INADDR_LOOPBACK));
    }
}

} // namespace
} // namespace kestrel
