#pragma once

#include <chrono>
#include <cstddef>

namespace kestrel::test {

// A UDP socket on 127.0.0.1 and a port the system chose, where a test
// receives what the announcer sends.
class UdpProbe {
public:
    UdpProbe();
    ~UdpProbe();
    UdpProbe(const UdpProbe&) = delete;
    UdpProbe& operator=(const UdpProbe&) = delete;

    int Port() const { return m_port; }
    // One datagram into `buffer`; its length, or -1 when none came within
    // `timeout`.
    long Receive(unsigned char* buffer, std::size_t capacity, std::chrono::milliseconds timeout);
    // One datagram to 127.0.0.1:port.
    bool SendTo(int port, const unsigned char* bytes, std::size_t size);

private:
    // The port first: binding the socket sets it.
    int m_port = 0;
    int m_socket = -1;
};

// A port free on 127.0.0.1 at this moment, for a program the test starts.
int FreePort(int socketType);

} // namespace kestrel::test
