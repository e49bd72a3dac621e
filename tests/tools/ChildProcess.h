#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestrel::test {

// A program started by a test, its standard output and error collected
// through a pipe. Every wait is bounded; the destructor stops a program
// still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads output until it holds `words` or `timeout` passes.
    bool WaitForOutput(const std::string& words, std::chrono::milliseconds timeout);
    // Waits for the program to end by itself; its exit status, or -1 when
    // it is still running after `timeout` (or ended by a signal).
    int WaitForExit(std::chrono::milliseconds timeout);
    // Asks the program to stop (SIGTERM), as a service manager does, and
    // returns its exit status; kills it when it does not listen.
    int Stop();

    const std::string& Output() const { return m_output; }
    pid_t Pid() const { return m_pid; }

private:
    // Takes what the pipe holds, waiting at most `timeout` for something.
    void ReadOutput(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_outputFd = -1;
    int m_status = -1;
    std::string m_output;
};

} // namespace kestrel::test
