// The announcer on a multicast group, between a teacher's machine and a
// pupil's, two network namespaces the test makes and joins with a veth pair
// (t1 10.12.1.1/24, p1 10.12.1.2/24). Nothing leaves them.

#include "tests/support/NetworkNamespace.h"
#include "tests/tools/ChildProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::CNetworkNamespace;

constexpr const char* kGroup = "239.12.0.1";
constexpr std::uint16_t kPort = 9000;

// A socket on the pupil's machine that joins the group on the channel port
// beside the listener and tells the hop limit each datagram arrived with.
class CHopLimitProbe {
public:
    explicit CHopLimitProbe(const CNetworkNamespace& pupil)
    {
        pupil.Within([&] { m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); });
        const int on = 1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kPort);
        ip_mreqn membership{};
        inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
        inet_pton(AF_INET, "10.12.1.2", &membership.imr_address);
        m_ready = m_socket >= 0 && ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
            && ::setsockopt(m_socket, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) == 0
            && ::bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0
            && ::setsockopt(m_socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0;
    }
    ~CHopLimitProbe()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    CHopLimitProbe(const CHopLimitProbe&) = delete;
    CHopLimitProbe& operator=(const CHopLimitProbe&) = delete;

    bool IsReady() const { return m_ready; }

    // The hop limit of the next datagram, -1 when none came within five
    // seconds.
    int NextHopLimit()
    {
        pollfd entry{m_socket, POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1)
            return -1;
        unsigned char datagram[8192];
        iovec piece{datagram, sizeof datagram};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))];
        msghdr message{};
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(m_socket, &message, 0) <= 0)
            return -1;
        for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr; part = CMSG_NXTHDR(&message, part)) {
            if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_TTL)
                return *reinterpret_cast<const int*>(CMSG_DATA(part));
        }
        return -1;
    }

private:
    int m_socket = -1;
    bool m_ready = false;
};

// The command run inside `where` (the child is started without a path search).
std::vector<std::string> InNamespace(const CNetworkNamespace& where, std::vector<std::string> command)
{
    command.insert(command.begin(), {"/usr/sbin/ip", "netns", "exec", where.Name()});
    return command;
}

class AnnouncerGroupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_teacher.IsMade() || !m_pupil.IsMade())
            GTEST_SKIP() << "network namespaces cannot be made here (they need root and \"ip netns\")";
        ASSERT_TRUE(m_teacher.LinkTo("t1", m_pupil, "p1"));
        ASSERT_TRUE(m_teacher.AddAddress("t1", "10.12.1.1/24"));
        ASSERT_TRUE(m_pupil.AddAddress("p1", "10.12.1.2/24"));
        m_folder.Write(m_catalogue, "[home]\nurl = http://10.12.1.1/index.html\n[link]\nname = Music\n");
    }

    // The listener on the pupil's card p1, with these options besides.
    std::unique_ptr<test::ChildProcess> ListenOnPupil(std::vector<std::string> options)
    {
        options.insert(options.begin(), {KESTREL_ANNOUNCE_PATH, "--listen", "--from", "p1", "--port", "9000"});
        return std::make_unique<test::ChildProcess>(InNamespace(m_pupil, options));
    }

    // One announcement of the catalogue from the teacher's card t1.
    void AnnounceOnceFromTeacher(std::vector<std::string> options)
    {
        options.insert(options.begin(), {KESTREL_ANNOUNCE_PATH, "--once", "--from", "t1", "--port", "9000"});
        options.push_back(m_catalogue);
        test::ChildProcess announcer(InNamespace(m_teacher, options));
        ASSERT_EQ(announcer.WaitForExit(10s), 0) << announcer.Output();
    }

    static void ExpectHeardFromTeacher(test::ChildProcess& listener)
    {
        EXPECT_TRUE(listener.WaitForOutput("name=\"Music\"", 5s)) << listener.Output();
        EXPECT_NE(listener.Output().find("from 10.12.1.1:"), std::string::npos) << listener.Output();
        EXPECT_NE(listener.Output().find("name=\"home\" caption=\"\" url=\"http://10.12.1.1/index.html\""),
                  std::string::npos)
            << listener.Output();
        EXPECT_EQ(listener.Stop(), 0);
    }

    CNetworkNamespace m_teacher{"teacher"};
    CNetworkNamespace m_pupil{"pupil"};
    test::TemporaryFolder m_folder;
    const std::string m_catalogue = m_folder.Path() + "/catalogue.ini";
};

TEST_F(AnnouncerGroupTest, AGroupAnnouncementReachesAListenerOnTheGroupWithTheHopLimitAsked)
{
    const auto listener = ListenOnPupil({"--group", kGroup});
    ASSERT_TRUE(listener->WaitForOutput("listening for link records on 10.12.1.2:9000 and the group 239.12.0.1", 5s))
        << listener->Output();
    CHopLimitProbe probe(m_pupil);
    ASSERT_TRUE(probe.IsReady());

    AnnounceOnceFromTeacher({"--to", kGroup, "--ttl", "3"});
    EXPECT_EQ(probe.NextHopLimit(), 3);
    ExpectHeardFromTeacher(*listener);
}

TEST_F(AnnouncerGroupTest, AListenerOnACardHearsItsSubnetsBroadcasts)
{
    const auto listener = ListenOnPupil({});
    ASSERT_TRUE(listener->WaitForOutput("listening for link records on 10.12.1.2:9000", 5s)) << listener->Output();
    AnnounceOnceFromTeacher({"--to", "10.12.1.255"});
    ExpectHeardFromTeacher(*listener);
}

} // namespace
} // namespace kestrel
