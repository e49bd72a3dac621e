#include "channel/ChannelSocket.h"

#include "base/ConsoleLine.h"
#include "channel/SocketErrorText.h"

#include <arpa/inet.h>
#include <cerrno>
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

bool SetIntOption(int socket, int option, int value)
{
    return setsockopt(socket, SOL_SOCKET, option, &value, sizeof value) == 0;
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

bool CChannelSocket::Open(const char* bindAddress, long port, CSocketOwner* owner)
{
    Close();
    m_pOwner = owner;

    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0) {
        ReportFailure("socket()");
        return false;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    address.sin_addr.s_addr = BindAddressFromText(bindAddress);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ReportFailure("bind() port: " + std::to_string(port));
        ::close(socket);
        return false;
    }
    // The channel never sends; the send buffer is set because the channel
    // has always set it, and a failure here is reported as it always was.
    if (!SetIntOption(socket, SO_SNDBUF, kSendBufferSize)) {
        ReportFailure("set SO_SNDBUF");
        ::close(socket);
        return false;
    }
    if (!SetIntOption(socket, SO_BROADCAST, 1)) {
        ReportFailure("set SO_BROADCAST");
        ::close(socket);
        return false;
    }
    // Reads happen only when the owner reports readiness, and must never
    // block the window.
    if (!MakeNonBlocking(socket)) {
        ::close(socket);
        return false;
    }
    m_socket = socket;
    if (m_pOwner != nullptr)
        m_pOwner->WatchSocket(m_socket);
    return true;
}

void CChannelSocket::Close()
{
    if (m_socket < 0)
        return;
    if (m_pOwner != nullptr)
        m_pOwner->UnwatchSocket(m_socket);
    ::close(m_socket);
    m_socket = -1;
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
