#include "channel/ChannelSocket.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "channel/MulticastGroup.h"
#include "channel/NetworkCards.h"
#include "channel/SocketErrorText.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

static_assert(CChannelSocket::kDatagramReadSize <= CFrameFinder::kLargestPiece,
              "one read fits the room the frame finder keeps for it");

namespace {

// The text for the error the last socket call left behind.
std::string LastSocketErrorText()
{
    return SocketErrorText(SocketErrorCode(errno));
}

// Set-up failures go to standard output, "what failed, Err: text"; the
// window shows nothing.
void ReportFailure(const std::string& what)
{
    PrintLine(what + " failed, Err: " + LastSocketErrorText());
}

// inet_addr rules for the dotted quad; empty text means any local address.
in_addr_t BindAddressFromText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return htonl(INADDR_ANY);
    return inet_addr(text);
}

// The any-address, the limited broadcast (also what inet_addr gives for
// text it cannot read) and multicast addresses name no card: the socket is
// bound to them as it always was.
bool NamesNoCard(in_addr_t address)
{
    return address == htonl(INADDR_ANY) || address == htonl(INADDR_BROADCAST) || IN_MULTICAST(ntohl(address));
}

bool SetOption(int socket, int level, int option, int value)
{
    return setsockopt(socket, level, option, &value, sizeof value) == 0;
}

std::string AddressText(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool MakeNonBlocking(int socket)
{
    const int flags = fcntl(socket, F_GETFL, 0);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

CChannelSocket::~CChannelSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool CChannelSocket::Open(const char* bindAddress, long port, CSocketOwner* owner, const char* multicastGroup)
{
    Close();
    m_pOwner = owner;
    m_port = port;
    m_bindAddress = bindAddress != nullptr ? bindAddress : "";
    const std::string group = multicastGroup != nullptr ? multicastGroup : "";
    m_hasGroup = !group.empty() && ReadMulticastGroup(group, m_group);
    if (!group.empty() && !m_hasGroup)
        PrintLine("multicast group \"" + GbkToUtf8(group) + "\" is not an IPv4 multicast address (224.0.0.0 to "
                  "239.255.255.255): ignored");
    m_joinFailed = false;

    const Opening opening = OpenSocket(true);
    m_waitingForCard = opening == Opening::NoCard;
    return opening == Opening::Opened;
}

CChannelSocket::Opening CChannelSocket::OpenSocket(bool reportNoCard)
{
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0) {
        ReportFailure("socket()");
        return Opening::Failed;
    }
    const std::string bindWhat = "bind() port: " + std::to_string(m_port);
    const in_addr_t bindAddress = BindAddressFromText(m_bindAddress.c_str());
    m_cardIndex = 0;
    if (!NamesNoCard(bindAddress)) {
        in_addr address{};
        address.s_addr = bindAddress;
        m_cardIndex = CardIndexOfAddress(address);
        if (m_cardIndex == 0) {
            // What a bind to an address no card holds has always said.
            errno = EADDRNOTAVAIL;
            if (reportNoCard)
                ReportFailure(bindWhat);
            ::close(socket);
            return Opening::NoCard;
        }
    }

    // Before bind, which then weighs the port against that card's sockets.
    if (m_cardIndex != 0 && !HearOnlyCard(socket, m_cardIndex)) {
        ReportFailure("set SO_BINDTOIFINDEX");
        ::close(socket);
        return Opening::Failed;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(m_port & 0xFFFF));
    address.sin_addr.s_addr = m_cardIndex != 0 ? htonl(INADDR_ANY) : bindAddress;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ReportFailure(bindWhat);
        ::close(socket);
        return Opening::Failed;
    }
    // The channel never sends; the send buffer is set because the channel
    // has always set it, and a failure here is reported as it always was.
    if (!SetOption(socket, SOL_SOCKET, SO_SNDBUF, kSendBufferSize)) {
        ReportFailure("set SO_SNDBUF");
        ::close(socket);
        return Opening::Failed;
    }
    if (!SetOption(socket, SOL_SOCKET, SO_BROADCAST, 1)) {
        ReportFailure("set SO_BROADCAST");
        ::close(socket);
        return Opening::Failed;
    }
    // Reads happen only when the owner reports readiness, and must never
    // block the window.
    if (!MakeNonBlocking(socket)) {
        ::close(socket);
        return Opening::Failed;
    }
    m_socket = socket;
    m_joinPending = m_hasGroup && !TryJoin();
    if (m_pOwner != nullptr)
        m_pOwner->WatchSocket(m_socket);
    return Opening::Opened;
}

bool CChannelSocket::TryJoin()
{
    if (JoinMulticastGroup(m_socket, m_group, m_cardIndex)) {
        if (m_joinFailed)
            PrintLine("joined multicast group " + AddressText(m_group));
        return true;
    }
    // A pupil may log in before the network is up: said once, then tried
    // again quietly.
    if (!m_joinFailed)
        PrintLine("join multicast group " + AddressText(m_group) + " failed: " + std::strerror(errno)
                  + "; trying again every " + std::to_string(kRetryIntervalMs / 1000) + " seconds");
    m_joinFailed = true;
    return false;
}

void CChannelSocket::Retry()
{
    if (m_waitingForCard) {
        const Opening opening = OpenSocket(false);
        if (opening == Opening::NoCard)
            return;
        m_waitingForCard = false;
        if (opening == Opening::Opened)
            PrintLine("bind() port: " + std::to_string(m_port) + " on " + m_bindAddress
                      + " done: the address has appeared");
    } else if (m_joinPending) {
        m_joinPending = !TryJoin();
    }
}

void CChannelSocket::Close()
{
    m_waitingForCard = false;
    m_joinPending = false;
    if (m_socket < 0)
        return;
    if (m_pOwner != nullptr)
        m_pOwner->UnwatchSocket(m_socket);
    ::close(m_socket);
    m_socket = -1;
}

std::uint16_t CChannelSocket::ListeningPort() const
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (m_socket < 0 || ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void CChannelSocket::OnSocketNotify(std::uintptr_t socketParam, std::uint32_t eventParam)
{
    if (m_socket < 0 || socketParam != static_cast<std::uintptr_t>(m_socket))
        return;
    if ((eventParam >> 16) != 0)
        return;
    if ((eventParam & kReadEvent) == 0)
        return;
    // Read straight into the reassembly buffer: nothing is copied between
    // the socket and the frames. MSG_TRUNC reports a datagram's real length:
    // one longer than the read arrived cut and is dropped whole.
    unsigned char* const room = m_frames.RoomFor(kDatagramReadSize);
    // The sender's address costs the read a measurable share of its speed,
    // so it is asked for only by a receiver that uses it.
    sockaddr_in source{};
    socklen_t sourceSize = sizeof source;
    const ssize_t received = ::recvfrom(m_socket, room, kDatagramReadSize, MSG_TRUNC,
                                        m_keepSources ? reinterpret_cast<sockaddr*>(&source) : nullptr,
                                        m_keepSources ? &sourceSize : nullptr);
    if (received <= 0 || static_cast<std::size_t>(received) > kDatagramReadSize)
        return;
    // The frames this datagram completes are said to come from its sender.
    m_datagramSource = source.sin_addr.s_addr;
    m_frames.FeedRoom(static_cast<std::size_t>(received), FrameHandler());
}

void CChannelSocket::Feed(const unsigned char* bytes, std::size_t count)
{
    m_datagramSource = 0;
    m_frames.Feed(bytes, count, FrameHandler());
}

} // namespace kestrel
