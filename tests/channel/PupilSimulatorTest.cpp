// The pupil simulator of the room view's benchmark: its pupils hear a signed
// announcer on 127.0.0.1 (a hundred: fed by more than one thread) and report,
// each from its own address.
#include "base/SteadyClock.h"
#include "bench/PupilSimulator.h"
#include "channel/ClassroomStateFrame.h"
#include "tests/channel/LoopbackUdp.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/ListedState.h"
#include "tests/support/SignedFrames.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace kestrel {
namespace {

TEST(PupilSimulatorTest, FreshPupilsReportTheStatesDigestStaleOnesDoNotEachFromItsOwnAddress)
{
    const SigningKey key = test::FixedKey(5);
    test::TemporaryFolder folder;
    std::ofstream(folder.Path() + "/trusted-keys") << TrustedKeyLine(key.publicKey, "") << "\n";
    PupilOptions options;
    options.port = test::FreeUdpPort();
    options.count = 100;
    options.stale = 2;
    options.trustedKeysPath = folder.Path() + "/trusted-keys";
    CPupilSimulator room(options);
    ASSERT_TRUE(room.Start());

    test::LoopbackUdp announcer;
    std::uint64_t counter = 1796640000000;
    const LinkRecord home = test::LinkRecordBuilder("home").Url("http://school/");
    const LinkRecord maths = test::LinkRecordBuilder("maths").Url("http://maths/");
    for (const LinkRecord& record : {home, maths}) {
        test::SignedFrame frame = test::SignedRecordFrame(record, ++counter, key);
        ASSERT_TRUE(announcer.SendTo(options.port, test::Bytes(frame.bytes, frame.bytes + sizeof frame.bytes)));
    }
    ClassroomState state = test::ListedState({"maths"}, ClassroomMode::LessonOnly, 10);
    const LinkRecord* listed[] = {&maths};
    state.digest = DigestCatalogue(&home, listed, 1);
    state.reportPort = test::BoundPort(announcer.Socket());
    unsigned char frame[kClassroomStateFrameSize];
    const std::size_t size = EncodeClassroomStateFrame(state, options.port, &key, ++counter, frame);
    ASSERT_TRUE(announcer.SendTo(options.port, test::Bytes(frame, frame + size)));

    // Every change is reported within a second.
    ASSERT_TRUE(room.RunUntil(SteadyMilliseconds() + 1500));
    EXPECT_EQ(room.AppliedCount(), 98);
    EXPECT_EQ(room.ReportsSent(), 100u);
    std::set<std::uint32_t> sources;
    int applied = 0;
    unsigned char bytes[kReportFrameSize];
    sockaddr_in source{};
    for (socklen_t size = sizeof source; test::WaitReadable(announcer.Socket(), 0); size = sizeof source) {
        const ssize_t got = ::recvfrom(announcer.Socket(), bytes, sizeof bytes, 0, reinterpret_cast<sockaddr*>(&source), &size);
        ScreenReport report;
        ASSERT_EQ(ReadReportFrame(bytes, std::size_t(got), report), ReportFault::None);
        sources.insert(source.sin_addr.s_addr);
        applied += (report.flags & kReportComplete) != 0 && report.digest == state.digest;
        EXPECT_TRUE(report.mode == ClassroomMode::LessonOnly && report.channelPort == options.port
                    && report.stateCounter == counter);
    }
    EXPECT_EQ(applied, 98);
    EXPECT_EQ(sources.size(), 100u);
    EXPECT_EQ(sources.count(htonl(0x7F640064)), 1u) << "127.100.0.100";
}

TEST(PupilSimulatorTest, DeafPupilsReportHoldingNothing)
{
    test::LoopbackUdp announcer;
    PupilOptions options;
    options.count = 3;
    options.reportAddress = htonl(INADDR_LOOPBACK);
    options.reportPort = test::BoundPort(announcer.Socket());
    CPupilSimulator room(options);
    ASSERT_TRUE(room.Start());
    ASSERT_TRUE(room.RunUntil(SteadyMilliseconds() + 1200));
    unsigned char bytes[kReportFrameSize];
    for (int i = 0; i < 3; ++i) {
        ScreenReport report;
        ASSERT_TRUE(test::WaitReadable(announcer.Socket(), 0));
        ASSERT_EQ(ReadReportFrame(bytes, std::size_t(::recv(announcer.Socket(), bytes, sizeof bytes, 0)), report),
                  ReportFault::None);
        EXPECT_TRUE(report.flags == kReportSigned && report.stateCounter == 0 && report.channelPort == 9000);
    }
}

} // namespace
} // namespace kestrel
