#pragma once

#include "channel/ChannelSocket.h"
#include "channel/SocketOwner.h"

#include "tests/channel/FrameBytes.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kestrel::test {

// A UDP socket of the test's own on 127.0.0.1, to hold a port or to send.
class LoopbackUdp {
public:
    explicit LoopbackUdp(std::uint16_t port = 0) : m_socket(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        sockaddr_in address = LoopbackAddress(port);
        m_bound = m_socket >= 0 && ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~LoopbackUdp()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    LoopbackUdp(const LoopbackUdp&) = delete;
    LoopbackUdp& operator=(const LoopbackUdp&) = delete;

    bool IsBound() const { return m_bound; }
    int Socket() const { return m_socket; }

    bool SendTo(std::uint16_t port, const Bytes& bytes) const
    {
        const sockaddr_in address = LoopbackAddress(port);
        return ::sendto(m_socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        sizeof address)
            == static_cast<ssize_t>(bytes.size());
    }

    static sockaddr_in LoopbackAddress(std::uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

private:
    int m_socket;
    bool m_bound = false;
};

inline sockaddr_in BoundAddress(int socket)
{
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size);
    return address;
}

inline std::uint16_t BoundPort(int socket)
{
    return ntohs(BoundAddress(socket).sin_port);
}

// A port nobody holds at this moment.
inline std::uint16_t FreeUdpPort()
{
    LoopbackUdp probe;
    return probe.IsBound() ? BoundPort(probe.Socket()) : 0;
}

// Stands in for the window: remembers what it was asked to watch.
class FakeSocketOwner : public CSocketOwner {
public:
    void WatchSocket(int socket) override { watched.push_back(socket); }
    void UnwatchSocket(int socket) override { unwatched.push_back(socket); }

    int Watched() const { return watched.empty() ? -1 : watched.back(); }

    std::vector<int> watched;
    std::vector<int> unwatched;
};

// Waits, two seconds at most, for a datagram on the socket.
inline bool WaitReadable(int socket, int timeoutMs = 2000)
{
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1;
}

// What the window's notifier does: wait until the socket is readable, then
// pass the readiness on. False when nothing came in time.
inline bool DeliverReadiness(CChannelSocket& channel, int socket)
{
    if (!WaitReadable(socket))
        return false;
    channel.OnSocketNotify(static_cast<std::uintptr_t>(socket), CChannelSocket::kReadEvent);
    return true;
}

} // namespace kestrel::test
