#include "DelayedPictureServer.h"

#include <utility>

#include <arpa/inet.h>
#include <algorithm>
#include <array>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kestrel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxConnections = 64;
// Longest sleep between looks at the stop flag.
constexpr std::chrono::milliseconds kLongestWait{10};
constexpr std::size_t kRequestLimit = 4096;

// One accepted connection: its request so far, and when its answer is due
// once the request is complete.
struct Connection {
    int fd = -1;
    std::array<char, kRequestLimit> request{};
    std::size_t held = 0;
    bool complete = false;
    Clock::time_point due{};
};

void CloseConnection(Connection& connection)
{
    close(connection.fd);
    connection = Connection{};
}

} // namespace

CDelayedPictureServer::CDelayedPictureServer(std::string body, std::chrono::milliseconds delay)
    : m_body(std::move(body)), m_delay(delay)
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(m_listener, kMaxConnections) != 0
        || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&CDelayedPictureServer::Serve, this);
}

CDelayedPictureServer::~CDelayedPictureServer()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    close(m_listener);
}

std::string CDelayedPictureServer::Url(int n) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/picture" + std::to_string(n) + ".bmp";
}

void CDelayedPictureServer::Serve()
{
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: image/bmp\r\nContent-Length: "
        + std::to_string(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body;
    std::array<Connection, kMaxConnections> connections;
    std::array<pollfd, kMaxConnections + 1> watched;

    while (!m_bStop) {
        auto wakeUp = Clock::now() + kLongestWait;
        watched[0] = {m_listener, POLLIN, 0};
        for (std::size_t i = 0; i < kMaxConnections; ++i) {
            // Answered or not, a connection is watched, so one the client
            // gave up on frees its slot at once.
            watched[i + 1] = {connections[i].fd, POLLIN, 0};
            if (connections[i].complete)
                wakeUp = std::min(wakeUp, connections[i].due);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeUp - Clock::now());
        poll(watched.data(), watched.size(), static_cast<int>(std::max<long long>(0, wait.count())));

        if (watched[0].revents & POLLIN) {
            const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            Connection* slot = nullptr;
            for (Connection& connection : connections)
                if (slot == nullptr && connection.fd < 0)
                    slot = &connection;
            if (slot != nullptr)
                slot->fd = fd;
            else if (fd >= 0)
                close(fd);
        }
        const auto now = Clock::now();
        for (std::size_t i = 0; i < kMaxConnections; ++i) {
            Connection& connection = connections[i];
            if (connection.fd >= 0 && (watched[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) {
                char ignored[256];
                const ssize_t got = connection.complete
                    ? read(connection.fd, ignored, sizeof ignored)
                    : read(connection.fd, connection.request.data() + connection.held, kRequestLimit - connection.held);
                if (got <= 0) {
                    CloseConnection(connection);
                    continue;
                }
                if (!connection.complete) {
                    connection.held += static_cast<std::size_t>(got);
                    connection.complete = std::string_view(connection.request.data(), connection.held).find("\r\n\r\n") != std::string_view::npos
                        || connection.held == kRequestLimit;
                    connection.due = now + m_delay;
                    m_requests += connection.complete;
                }
            }
            if (connection.complete && now >= connection.due) {
                // The whole answer fits a fresh socket's send buffer.
                send(connection.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                CloseConnection(connection);
            }
        }
    }
    for (Connection& connection : connections)
        if (connection.fd >= 0)
            close(connection.fd);
}

} // namespace kestrel
