// Every attack of the shared table against the built announcer's --serve:
// refused or harmless, ordinary requests from another machine answered
// beside it and after it, and the server's memory bounded.

#include "tests/support/HttpAttacks.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/UdpProbe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

TEST(AnnouncerAttackTest, EveryAttackIsRefusedWhileOrdinaryRequestsAreAnswered)
{
    test::TemporaryFolder folder;
    const std::string served = folder.Path() + "/served";
    std::filesystem::create_directories(served + "/pictures");
    folder.Write(served + "/pictures/yuwen.bmp", std::string(1782, 'B'));
    folder.Write(folder.Path() + "/secret.txt", "not for pupils");
    std::filesystem::create_symlink(folder.Path() + "/secret.txt", served + "/secret.txt");

    test::AttackTarget target;
    target.port = test::FreePort(SOCK_STREAM);
    target.path = "/pictures/yuwen.bmp";
    target.linkPath = "/secret.txt";
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

} // namespace
} // namespace kestrel
