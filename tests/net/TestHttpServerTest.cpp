// The test server's own promises, which the fetch tests rely on: many silent
// connections at once, and a prompt stop while they are still open.

#include "tests/support/TestHttpServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

constexpr int kClients = 300;

// A connection that asks for path and keeps waiting.
int Ask(int port, const char* path)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

TEST(TestHttpServerTest, HoldsManySilentRequestsAndStopsPromptlyWithThemOpen)
{
    auto server = std::make_unique<test::CTestHttpServer>();
    ASSERT_TRUE(server->Started());
    server->AnswerOthers(test::Reply().Silent());
    std::vector<int> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(Ask(server->Port(), "/silent"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server->RequestCount("/silent") < kClients && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server->RequestCount("/silent"), kClients);

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    for (const int fd : clients)
        close(fd);
}

} // namespace
} // namespace kestrel
