#include "tests/tools/ChildProcess.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel::test {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(5);
} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    m_outputFd = pipeEnds[0];
}

ChildProcess::~ChildProcess()
{
    Stop();
    if (m_outputFd >= 0)
        close(m_outputFd);
}

bool ChildProcess::WaitForOutput(const std::string& words, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (m_output.find(words) == std::string::npos) {
        if (m_outputFd < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        ReadOutput(left);
    }
    return true;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (Clock::now() >= deadline)
            return -1;
        ReadOutput(kPollStep);
    }
    // What the program wrote last is still in the pipe.
    const auto drained = Clock::now() + kStopTimeout;
    while (m_outputFd >= 0 && Clock::now() < drained)
        ReadOutput(kPollStep);
    return m_status;
}

int ChildProcess::Stop()
{
    if (m_pid <= 0)
        return m_status;
    kill(m_pid, SIGTERM);
    if (WaitForExit(kStopTimeout) < 0 && m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    return m_status;
}

void ChildProcess::ReadOutput(std::chrono::milliseconds timeout)
{
    const int step = static_cast<int>(std::min(timeout, std::chrono::milliseconds(kPollStep)).count());
    if (m_outputFd < 0) {
        poll(nullptr, 0, step);
        return;
    }
    pollfd watched = {m_outputFd, POLLIN, 0};
    if (poll(&watched, 1, step) <= 0)
        return;
    char chunk[4096];
    const ssize_t got = read(m_outputFd, chunk, sizeof chunk);
    if (got > 0) {
        m_output.append(chunk, static_cast<std::size_t>(got));
    } else {
        // The program has closed its output: it has ended or is ending.
        close(m_outputFd);
        m_outputFd = -1;
    }
}

} // namespace kestrel::test
