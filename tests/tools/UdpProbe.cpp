#include "tests/tools/UdpProbe.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::test {

namespace {
// Binds a new socket to 127.0.0.1 and a port the system picks; returns the
// socket and sets the port.
int BindLoopback(int socketType, int& port)
{
    const int fd = socket(AF_INET, socketType | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    return fd;
}
} // namespace

UdpProbe::UdpProbe() : m_socket(BindLoopback(SOCK_DGRAM, m_port)) {}

UdpProbe::~UdpProbe()
{
    if (m_socket >= 0)
        close(m_socket);
}

long UdpProbe::Receive(unsigned char* buffer, std::size_t capacity, std::chrono::milliseconds timeout)
{
    pollfd watched = {m_socket, POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(timeout.count())) <= 0)
        return -1;
    return static_cast<long>(recv(m_socket, buffer, capacity, 0));
}

bool UdpProbe::SendTo(int port, const unsigned char* bytes, std::size_t size)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return sendto(m_socket, bytes, size, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address)
        == static_cast<ssize_t>(size);
}

int FreePort(int socketType)
{
    int port = 0;
    const int fd = BindLoopback(socketType, port);
    if (fd >= 0)
        close(fd);
    return port;
}

} // namespace kestrel::test
