// The channel on a machine with two cards and on a multicast group, inside
// network namespaces the tests make: a pupil machine with cards p1
// (10.12.1.2/24) and p2 (10.12.2.2/24), each joined by a veth pair to a
// teacher machine's t1 (10.12.1.1) and t2 (10.12.2.1). Nothing leaves them.
#include "channel/ChannelSocket.h"

#include "tests/channel/FrameBytes.h"
#include "tests/channel/LoopbackUdp.h"
#include "tests/channel/RecordingChannel.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel {
namespace {

using test::Bytes;
using test::CNetworkNamespace;
using test::FakeSocketOwner;
using test::MakeFrame;
using test::PatternPayload;
using test::RecordingChannel;

constexpr std::uint16_t kPort = 9000;
constexpr const char* kGroup = "239.12.0.1";
constexpr const char* kOtherGroup = "239.12.0.2";
// Enough for every datagram of a test to have come through the veth pairs.
constexpr int kQuietMs = 300;
constexpr int kMostDatagrams = 64;

sockaddr_in AddressOf(const std::string& text, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, text.c_str(), &address.sin_addr);
    return address;
}

// A UDP socket of one machine, sending from one of its addresses: the
// system sends its broadcasts and multicasts out of the card that holds it.
class CSenderSocket {
public:
    CSenderSocket(const CNetworkNamespace& machine, const std::string& from)
    {
        machine.Within([&] { m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
        const int on = 1;
        const sockaddr_in source = AddressOf(from, 0);
        m_ready = m_socket >= 0 && ::setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0
            && ::bind(m_socket, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0;
    }
    ~CSenderSocket()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    CSenderSocket(const CSenderSocket&) = delete;
    CSenderSocket& operator=(const CSenderSocket&) = delete;

    bool IsReady() const { return m_ready; }
    bool SendTo(const std::string& to, const Bytes& bytes) const
    {
        const sockaddr_in address = AddressOf(to, kPort);
        return ::sendto(m_socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        sizeof address)
            == static_cast<ssize_t>(bytes.size());
    }

private:
    int m_socket = -1;
    bool m_ready = false;
};

// One frame per datagram, each of its own, so that what arrived tells what
// was sent.
Bytes NumberedFrame(unsigned char number)
{
    return MakeFrame(0xC8, 0, PatternPayload(64, number));
}

class ChannelCardsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_pupil.IsMade() || !m_teacher.IsMade())
            GTEST_SKIP() << "network namespaces cannot be made here (they need root and \"ip netns\")";
        ASSERT_TRUE(m_pupil.LinkTo("p1", m_teacher, "t1"));
        ASSERT_TRUE(m_pupil.LinkTo("p2", m_teacher, "t2"));
        ASSERT_TRUE(m_teacher.AddAddress("t1", "10.12.1.1/24"));
        ASSERT_TRUE(m_teacher.AddAddress("t2", "10.12.2.1/24"));
    }
    void TearDown() override { m_channel.Close(); }

    void GivePupilItsAddresses()
    {
        ASSERT_TRUE(m_pupil.AddAddress("p1", "10.12.1.2/24"));
        ASSERT_TRUE(m_pupil.AddAddress("p2", "10.12.2.2/24"));
    }

    // Opens the channel as a pupil's browser would, inside the pupil's
    // machine; returns what it printed.
    std::string OpenOnPupil(const char* bindAddress, const char* group = nullptr)
    {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(m_pupil.Within([&] { m_opened = m_channel.Open(bindAddress, kPort, &m_owner, group); }));
        return testing::internal::GetCapturedStdout();
    }

    // The window's retry, inside the pupil's machine, where a socket it
    // opens must be made; returns what it printed.
    std::string RetryOnPupil()
    {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(m_pupil.Within([&] { m_channel.Retry(); }));
        return testing::internal::GetCapturedStdout();
    }

    // Reads every datagram that comes until the channel has been quiet for
    // a while; the frames the channel kept.
    std::vector<Bytes> Received()
    {
        const int socket = m_channel.SocketHandle();
        for (int i = 0; i < kMostDatagrams && socket >= 0 && test::WaitReadable(socket, kQuietMs); ++i)
            m_channel.OnSocketNotify(static_cast<std::uintptr_t>(socket), CChannelSocket::kReadEvent);
        return m_channel.frames;
    }

    // Sends each numbered frame to its address, from the address `from` of
    // `machine`.
    void SendFrom(const CNetworkNamespace& machine, const std::string& from,
                  std::initializer_list<std::pair<const char*, unsigned char>> datagrams)
    {
        CSenderSocket sender(machine, from);
        ASSERT_TRUE(sender.IsReady()) << from;
        for (const auto& [to, number] : datagrams)
            ASSERT_TRUE(sender.SendTo(to, NumberedFrame(number))) << to;
    }

    // A socket of the pupil's own on another port that joins `group` on p1,
    // as another program on the pupil's machine might.
    int JoinOnPupilElsewhere(const char* group)
    {
        int socket = -1;
        m_pupil.Within([&] { socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
        ip_mreqn membership{};
        inet_pton(AF_INET, group, &membership.imr_multiaddr);
        membership.imr_ifindex = 0;
        inet_pton(AF_INET, "10.12.1.2", &membership.imr_address);
        EXPECT_EQ(::setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership), 0);
        return socket;
    }

    CNetworkNamespace m_pupil{"pupil"};
    CNetworkNamespace m_teacher{"teacher"};
    FakeSocketOwner m_owner;
    RecordingChannel m_channel;
    bool m_opened = false;
};

TEST_F(ChannelCardsTest, TheNamedCardHearsItsBroadcastsAndAddressAndNothingOfTheOtherCard)
{
    GivePupilItsAddresses();
    // A card is named by its own address or by its subnet's broadcast address.
    for (const char* bindAddress : {"10.12.1.2", "10.12.1.255"}) {
        ASSERT_EQ(OpenOnPupil(bindAddress), "") << bindAddress;
        ASSERT_TRUE(m_opened);
        // The second card's traffic goes first: none of it may be kept.
        SendFrom(m_teacher, "10.12.2.1", {{"10.12.2.255", 1}, {"255.255.255.255", 2}, {"10.12.2.2", 3}});
        SendFrom(m_teacher, "10.12.1.1", {{"10.12.1.255", 4}, {"255.255.255.255", 5}, {"10.12.1.2", 6}});
        EXPECT_EQ(Received(), (std::vector<Bytes>{NumberedFrame(4), NumberedFrame(5), NumberedFrame(6)})) << bindAddress;
        m_channel.Close();
        m_channel.frames.clear();
    }
}

TEST_F(ChannelCardsTest, TheMachinesOwnDatagramsToTheNamedCardAreHeard)
{
    // A teacher's machine may run a browser beside the announcer.
    GivePupilItsAddresses();
    ASSERT_EQ(OpenOnPupil("10.12.1.2"), "");
    SendFrom(m_pupil, "10.12.2.2", {{"10.12.2.2", 1}, {"10.12.2.255", 2}});
    SendFrom(m_pupil, "10.12.1.2", {{"10.12.1.2", 3}, {"10.12.1.255", 4}});
    EXPECT_EQ(Received(), (std::vector<Bytes>{NumberedFrame(3), NumberedFrame(4)}));
}

TEST_F(ChannelCardsTest, AnOrdinaryUserHearsTheNamedCardAndNothingOfTheOtherCard)
{
    // A pupil's session has no privilege: the child enters the pupil's
    // machine, drops root and opens the channel there; it exits 0 when it
    // kept exactly the named card's frames. The child never returns into
    // the test, so the namespaces stay the parent's to remove.
    GivePupilItsAddresses();
    int opened[2] = {-1, -1};
    ASSERT_EQ(::pipe(opened), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(opened[0]);
        m_pupil.Within([&] {
            constexpr uid_t kNobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(2);
            if (!m_channel.Open("10.12.1.2", kPort, &m_owner) || ::write(opened[1], "!", 1) != 1)
                ::_exit(3);
            const bool came = test::WaitReadable(m_channel.SocketHandle(), 5000);
            ::_exit(came && Received() == std::vector<Bytes>{NumberedFrame(4), NumberedFrame(5)} ? 0 : 1);
        });
        ::_exit(4);
    }
    ::close(opened[1]);
    pollfd entry{opened[0], POLLIN, 0};
    char signal = 0;
    const bool childOpened = ::poll(&entry, 1, 5000) == 1 && ::read(opened[0], &signal, 1) == 1;
    ::close(opened[0]);
    if (childOpened) {
        SendFrom(m_teacher, "10.12.2.1", {{"10.12.2.255", 1}, {"255.255.255.255", 2}});
        SendFrom(m_teacher, "10.12.1.1", {{"10.12.1.255", 4}, {"255.255.255.255", 5}});
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: root not dropped, 3: not opened, 1: the wrong frames kept";
}

TEST_F(ChannelCardsTest, WithoutABindAddressEveryCardIsHeardAsBefore)
{
    GivePupilItsAddresses();
    ASSERT_EQ(OpenOnPupil(""), "");
    SendFrom(m_teacher, "10.12.1.1", {{"10.12.1.255", 1}});
    SendFrom(m_teacher, "10.12.2.1", {{"255.255.255.255", 2}});
    EXPECT_EQ(Received().size(), 2u);
}

TEST_F(ChannelCardsTest, AnAddressNoCardHoldsIsReportedOnceAndOpensWhenItAppears)
{
    GivePupilItsAddresses();
    EXPECT_EQ(OpenOnPupil("10.12.3.2"), "bind() port: 9000 failed, Err: 10049:Cannot assign requested address\n");
    EXPECT_FALSE(m_opened);
    EXPECT_TRUE(m_channel.IsWaiting());
    EXPECT_EQ(RetryOnPupil(), "");
    EXPECT_TRUE(m_owner.watched.empty());

    // The card gets its address late, as it may after the pupil logged in.
    ASSERT_TRUE(m_pupil.AddAddress("p1", "10.12.3.2/24"));
    ASSERT_TRUE(m_teacher.AddAddress("t1", "10.12.3.1/24"));
    EXPECT_EQ(RetryOnPupil(), "bind() port: 9000 on 10.12.3.2 done: the address has appeared\n");
    EXPECT_FALSE(m_channel.IsWaiting());
    ASSERT_EQ(m_owner.watched.size(), 1u);
    EXPECT_EQ(RetryOnPupil(), "");

    SendFrom(m_teacher, "10.12.2.1", {{"255.255.255.255", 1}});
    SendFrom(m_teacher, "10.12.3.1", {{"10.12.3.255", 2}});
    EXPECT_EQ(Received(), std::vector<Bytes>{NumberedFrame(2)});
}

TEST_F(ChannelCardsTest, TheGroupIsHeardBesideBroadcastsAndNoOtherGroupLeaksIn)
{
    GivePupilItsAddresses();
    ASSERT_TRUE(m_pupil.Ip("route add default via 10.12.1.1"));
    ASSERT_EQ(OpenOnPupil("", kGroup), "");
    ASSERT_FALSE(m_channel.IsWaiting());
    const int other = JoinOnPupilElsewhere(kOtherGroup);
    SendFrom(m_teacher, "10.12.1.1", {{kOtherGroup, 1}, {kGroup, 2}, {"10.12.1.255", 3}});
    EXPECT_EQ(Received(), (std::vector<Bytes>{NumberedFrame(2), NumberedFrame(3)}));
    ::close(other);
}

TEST_F(ChannelCardsTest, TheGroupOfANamedCardIsJoinedOnThatCardOnly)
{
    GivePupilItsAddresses();
    ASSERT_EQ(OpenOnPupil("10.12.2.2", kGroup), "");
    SendFrom(m_teacher, "10.12.1.1", {{kGroup, 1}});
    SendFrom(m_teacher, "10.12.2.1", {{kGroup, 2}});
    EXPECT_EQ(Received(), std::vector<Bytes>{NumberedFrame(2)});
}

TEST_F(ChannelCardsTest, AJoinBeforeTheNetworkIsUpSucceedsOnceTheAddressIsAdded)
{
    // No address and no route yet: the group cannot be joined.
    const std::string refused = OpenOnPupil("", kGroup);
    EXPECT_TRUE(m_opened);
    EXPECT_EQ(refused.rfind("join multicast group 239.12.0.1 failed: ", 0), 0u) << refused;
    EXPECT_NE(refused.find("; trying again every 3 seconds\n"), std::string::npos) << refused;
    EXPECT_TRUE(m_channel.IsWaiting());
    EXPECT_EQ(RetryOnPupil(), "");

    GivePupilItsAddresses();
    ASSERT_TRUE(m_pupil.Ip("route add default via 10.12.1.1"));
    EXPECT_EQ(RetryOnPupil(), "joined multicast group 239.12.0.1\n");
    EXPECT_FALSE(m_channel.IsWaiting());

    SendFrom(m_teacher, "10.12.1.1", {{kGroup, 1}});
    EXPECT_EQ(Received(), std::vector<Bytes>{NumberedFrame(1)});
}

} // namespace
} // namespace kestrel
