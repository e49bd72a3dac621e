#include "PictureServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrel {

namespace {

constexpr std::chrono::milliseconds kStartWait{5000};

} // namespace

CPictureServer::CPictureServer()
{
    // A proxy named by the environment must not carry loopback requests away.
    setenv("no_proxy", "127.0.0.1", 1);

    int toServer[2];
    int fromServer[2];
    if (pipe2(toServer, O_CLOEXEC) != 0)
        return;
    if (pipe2(fromServer, O_CLOEXEC) != 0) {
        close(toServer[0]);
        close(toServer[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
    char python[] = "python3";
    char script[] = PICTURE_SERVER_SCRIPT;
    char* argv[] = {python, script, nullptr};
    if (posix_spawnp(&m_pid, python, &actions, nullptr, argv, environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toServer[0]);
    close(fromServer[1]);
    m_toServer = toServer[1];
    m_fromServer = fromServer[0];
    if (m_pid > 0)
        ReadPort();
}

CPictureServer::~CPictureServer()
{
    close(m_toServer);
    close(m_fromServer);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string CPictureServer::Url(const std::string& path, const std::string& scheme) const
{
    return scheme + "://127.0.0.1:" + std::to_string(m_port) + path;
}

void CPictureServer::ReadPort()
{
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    char line[16] = {};
    std::size_t held = 0;
    while (held < sizeof line - 1 && std::chrono::steady_clock::now() < deadline) {
        pollfd watch{m_fromServer, POLLIN, 0};
        if (poll(&watch, 1, 100) <= 0)
            continue;
        const ssize_t got = read(m_fromServer, line + held, 1);
        if (got <= 0)
            return;
        if (line[held] == '\n') {
            m_port = std::atoi(line);
            return;
        }
        ++held;
    }
}

int RefusingPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

} // namespace kestrel
