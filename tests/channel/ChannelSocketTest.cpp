#include "channel/ChannelSocket.h"
#include "channel/SocketErrorText.h"

#include "tests/channel/FrameBytes.h"
#include "tests/channel/LoopbackUdp.h"
#include "tests/channel/RecordingChannel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

namespace kestrel {
namespace {

using test::Bytes;
using test::DeliverReadiness;
using test::FakeSocketOwner;
using test::Join;
using test::LoopbackUdp;
using test::MakeFrame;
using test::PatternPayload;
using test::RecordingChannel;

class ChannelSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_channel.Open("127.0.0.1", 0, &m_owner));
        ASSERT_EQ(m_owner.watched.size(), 1u);
        m_socket = m_owner.Watched();
        m_port = test::BoundPort(m_socket);
        ASSERT_TRUE(m_sender.IsBound());
    }
    void TearDown() override { m_channel.Close(); }

    void SendAndDeliver(const Bytes& datagram)
    {
        ASSERT_TRUE(m_sender.SendTo(m_port, datagram));
        ASSERT_TRUE(DeliverReadiness(m_channel, m_socket));
    }

    FakeSocketOwner m_owner;
    RecordingChannel m_channel;
    LoopbackUdp m_sender;
    int m_socket = -1;
    std::uint16_t m_port = 0;
};

TEST_F(ChannelSocketTest, PortZeroBindsAPortTheSystemChoosesAndTheSocketNeverBlocks)
{
    EXPECT_NE(m_port, 0);
    EXPECT_NE(fcntl(m_socket, F_GETFL) & O_NONBLOCK, 0);
    // A readiness report with nothing waiting reads nothing and returns.
    m_channel.OnSocketNotify(static_cast<std::uintptr_t>(m_socket), CChannelSocket::kReadEvent);
    EXPECT_TRUE(m_channel.frames.empty());
}

TEST_F(ChannelSocketTest, CloseStopsTheWatchOnceAndOnlyOnce)
{
    m_channel.Close();
    ASSERT_EQ(m_owner.unwatched.size(), 1u);
    EXPECT_EQ(m_owner.unwatched[0], m_socket);
    m_channel.Close();
    EXPECT_EQ(m_owner.unwatched.size(), 1u);
    // The port is free again.
    EXPECT_TRUE(LoopbackUdp(m_port).IsBound());
}

TEST_F(ChannelSocketTest, TwoFramesInOneDatagramArriveInOrder)
{
    const Bytes first = MakeFrame(0xC8, 0, PatternPayload(1153, 1));
    const Bytes second = MakeFrame(0x01, 1, PatternPayload(20, 2));
    SendAndDeliver(Join({first, second}));
    ASSERT_EQ(m_channel.frames.size(), 2u);
    EXPECT_EQ(m_channel.frames[0], first);
    EXPECT_EQ(m_channel.frames[1], second);
}

TEST_F(ChannelSocketTest, AFrameOverThreeDatagramsArrivesWithTheThird)
{
    const Bytes frame = MakeFrame(0xC8, 0, PatternPayload(1153, 3));
    SendAndDeliver(Bytes(frame.begin(), frame.begin() + 7));
    SendAndDeliver(Bytes(frame.begin() + 7, frame.begin() + 900));
    EXPECT_TRUE(m_channel.frames.empty());
    SendAndDeliver(Bytes(frame.begin() + 900, frame.end()));
    ASSERT_EQ(m_channel.frames.size(), 1u);
    EXPECT_EQ(m_channel.frames[0], frame);
}

TEST_F(ChannelSocketTest, NotificationsForAnotherSocketOrWithAnErrorReadNothing)
{
    const Bytes frame = MakeFrame(0x02, 0, PatternPayload(64, 4));
    ASSERT_TRUE(m_sender.SendTo(m_port, frame));
    ASSERT_TRUE(test::WaitReadable(m_socket));
    const auto socket = static_cast<std::uintptr_t>(m_socket);
    m_channel.OnSocketNotify(socket + 1, CChannelSocket::kReadEvent);
    m_channel.OnSocketNotify(socket, CChannelSocket::kReadEvent | (10054u << 16));
    m_channel.OnSocketNotify(socket, 0);
    EXPECT_TRUE(m_channel.frames.empty());
    // The datagram is still waiting for a proper notification.
    ASSERT_TRUE(DeliverReadiness(m_channel, m_socket));
    ASSERT_EQ(m_channel.frames.size(), 1u);
}

TEST_F(ChannelSocketTest, ADatagramLongerThanTheReadBufferIsDroppedWhole)
{
    const Bytes inside = MakeFrame(0xC8, 0, PatternPayload(1153, 5));
    const Bytes oversized = Join({inside, Bytes(9000 - inside.size(), 0x00)});
    const Bytes next = MakeFrame(0xC8, 1, PatternPayload(1153, 6));
    SendAndDeliver(oversized);
    SendAndDeliver(next);
    ASSERT_EQ(m_channel.frames.size(), 1u);
    EXPECT_EQ(m_channel.frames[0], next);
}

TEST_F(ChannelSocketTest, AFullReadBufferIsOneDatagram)
{
    const Bytes largest = MakeFrame(0x03, 0, PatternPayload(CChannelSocket::kDatagramReadSize - kFrameHeaderSize, 7));
    ASSERT_EQ(largest.size(), CChannelSocket::kDatagramReadSize);
    SendAndDeliver(largest);
    ASSERT_EQ(m_channel.frames.size(), 1u);
}

// Opening failures: each prints its line and leaves nothing open.
class ChannelSocketOpenTest : public ::testing::Test {
protected:
    std::string OpenAndCaptureOutput(const char* bindAddress, long port)
    {
        testing::internal::CaptureStdout();
        m_opened = m_channel.Open(bindAddress, port, &m_owner);
        return testing::internal::GetCapturedStdout();
    }

    FakeSocketOwner m_owner;
    RecordingChannel m_channel;
    bool m_opened = false;
};

TEST_F(ChannelSocketOpenTest, APortInUseFailsTheBindWithItsMessage)
{
    LoopbackUdp holder;
    ASSERT_TRUE(holder.IsBound());
    const std::uint16_t port = test::BoundPort(holder.Socket());
    const std::string output = OpenAndCaptureOutput("127.0.0.1", port);
    EXPECT_FALSE(m_opened);
    EXPECT_EQ(output, "bind() port: " + std::to_string(port) + " failed, Err: 10048:Address already in use\n");
    EXPECT_TRUE(m_owner.watched.empty());
    m_channel.Close();
    EXPECT_TRUE(m_owner.unwatched.empty());
}

TEST_F(ChannelSocketOpenTest, TheMessageShowsThePortAsGivenNotItsLowBits)
{
    LoopbackUdp holder;
    ASSERT_TRUE(holder.IsBound());
    const long port = test::BoundPort(holder.Socket()) + 65536L;
    const std::string output = OpenAndCaptureOutput("127.0.0.1", port);
    EXPECT_FALSE(m_opened);
    EXPECT_EQ(output, "bind() port: " + std::to_string(port) + " failed, Err: 10048:Address already in use\n");
}

TEST_F(ChannelSocketOpenTest, AnAddressThatIsNotLocalFailsTheBindOnceAndWaitsSilently)
{
    const std::string output = OpenAndCaptureOutput("192.0.2.1", 0);
    EXPECT_FALSE(m_opened);
    EXPECT_EQ(output, "bind() port: 0 failed, Err: " + SocketErrorText(SocketErrorCode(EADDRNOTAVAIL)) + "\n");
    EXPECT_TRUE(m_owner.watched.empty());
    EXPECT_TRUE(m_channel.IsWaiting());

    testing::internal::CaptureStdout();
    m_channel.Retry();
    m_channel.Retry();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(m_owner.watched.empty());
    // Closing ends the wait.
    m_channel.Close();
    EXPECT_FALSE(m_channel.IsWaiting());
}

TEST_F(ChannelSocketOpenTest, AddressesOfNoCardAreBoundAsTheyAlwaysWere)
{
    // The limited broadcast, also what text that is no address reads as,
    // and a multicast address.
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"255.255.255.255", "255.255.255.255"}, {"school", "255.255.255.255"}, {"239.12.0.1", "239.12.0.1"}};
    for (const auto& [bindAddress, bound] : cases) {
        EXPECT_EQ(OpenAndCaptureOutput(bindAddress, 0), "") << bindAddress;
        ASSERT_TRUE(m_opened) << bindAddress;
        EXPECT_EQ(test::BoundAddress(m_owner.Watched()).sin_addr.s_addr, inet_addr(bound)) << bindAddress;
        EXPECT_FALSE(m_channel.IsWaiting());
        m_channel.Close();
    }
}

TEST_F(ChannelSocketOpenTest, ABindAddressNeedsNoPrivilege)
{
    // A pupil's session is an ordinary user: the child drops root, if it
    // has it, before it opens the channel on the loopback's address.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::getuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(2);
        RecordingChannel channel;
        FakeSocketOwner owner;
        ::_exit(channel.Open("127.0.0.1", 0, &owner) && owner.Watched() >= 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ChannelSocketOpenTest, AGroupThatIsNotMulticastIsReportedOnceAndIgnored)
{
    for (const char* group : {"10.1.2.3", "240.0.0.1", "239.1.2", "group"}) {
        testing::internal::CaptureStdout();
        m_opened = m_channel.Open("127.0.0.1", 0, &m_owner, group);
        m_channel.Retry();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("multicast group \"") + group
                      + "\" is not an IPv4 multicast address (224.0.0.0 to 239.255.255.255): ignored\n");
        EXPECT_TRUE(m_opened) << group;
        EXPECT_FALSE(m_channel.IsWaiting()) << group;
        m_channel.Close();
    }
}

TEST_F(ChannelSocketOpenTest, AnEmptyBindAddressBindsAnyAddress)
{
    for (const char* any : {"", static_cast<const char*>(nullptr), "0.0.0.0"}) {
        const std::string output = OpenAndCaptureOutput(any, 0);
        ASSERT_TRUE(m_opened);
        EXPECT_EQ(output, "");
        EXPECT_EQ(test::BoundAddress(m_owner.Watched()).sin_addr.s_addr, htonl(INADDR_ANY));
        m_channel.Close();
    }
}

TEST_F(ChannelSocketOpenTest, APortAbove65535BindsItsLowSixteenBits)
{
    if (!LoopbackUdp(4464).IsBound())
        GTEST_SKIP() << "port 4464 is in use on this machine";
    ASSERT_EQ(OpenAndCaptureOutput("127.0.0.1", 70000), "");
    ASSERT_TRUE(m_opened);
    EXPECT_EQ(test::BoundPort(m_owner.Watched()), 4464);
    m_channel.Close();
}

TEST_F(ChannelSocketOpenTest, DestroyingTheChannelClosesItsSocket)
{
    std::uint16_t port = 0;
    {
        RecordingChannel channel;
        ASSERT_TRUE(channel.Open("127.0.0.1", 0, &m_owner));
        port = test::BoundPort(m_owner.Watched());
    }
    EXPECT_TRUE(LoopbackUdp(port).IsBound());
    EXPECT_TRUE(m_owner.unwatched.empty());
}

} // namespace
} // namespace kestrel
