#pragma once

// Built programs as a pupil's or the announcing machine runs them, each
// started by a benchmark in a process group of its own on 127.0.0.1. A
// benchmark of the browser defines KESTREL_PROGRAM_PATH, the built kestrel.

#include "config/ProfileString.h"
#include "config/SettingsKeys.h"
#include "config/SettingsPath.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrel::bench {

using Clock = std::chrono::steady_clock;
inline constexpr std::chrono::seconds kStopTimeout{5};

inline sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// A port the system hands out on 127.0.0.1 for `type` (SOCK_DGRAM, SOCK_STREAM).
inline int FreePort(int type)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The inherited environment, without proxies, with the screen, the engine's
// switches and a home and runtime folder of the run's own.
inline std::vector<std::string> ChildEnvironment(const std::string& folder)
{
    const std::map<std::string, std::string> ours = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"QTWEBENGINE_DISABLE_SANDBOX", "1"},
        {"QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-dev-shm-usage"},
        {"HOME", folder + "/home"},
        {"XDG_RUNTIME_DIR", folder + "/runtime"},
        {"no_proxy", "127.0.0.1"},
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (!ours.count(name) && lower.find("proxy") == std::string::npos && name.rfind("XDG_", 0) != 0)
            environment.push_back(text);
    }
    for (const auto& [name, value] : ours)
        environment.push_back(name + "=" + value);
    ::mkdir((folder + "/home").c_str(), 0700);
    ::mkdir((folder + "/runtime").c_str(), 0700);
    return environment;
}

#ifdef KESTREL_PROGRAM_PATH
// A copy of the program with a settings file beside it, as a pupil machine
// holds it; KESTREL_PROGRAM in the environment names another build.
inline std::string ProgramCopy(const std::string& folder, int channelPort)
{
    const std::string program = folder + "/bin/kestrel";
    std::filesystem::create_directories(folder + "/bin");
    const char* other = std::getenv("KESTREL_PROGRAM");
    std::filesystem::copy_file(other ? other : KESTREL_PROGRAM_PATH, program);
    const std::string settings = SettingsPathFor(program);
    WriteProfileString(settings, kSettingsSection, kMainChannelPortKey, std::to_string(channelPort));
    WriteProfileString(settings, kBroadcastBindSection, kBindAddressKey, "127.0.0.1");
    return program;
}
#endif

inline std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The program in a session and process group of its own, which its engine
// processes join; its output goes to `output`, or nowhere when that is -1.
// 0 when it could not start.
inline pid_t StartInOwnGroup(std::vector<std::string> arguments, std::vector<std::string> environment,
                             int output = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        if (output < 0)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, output, fd);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> envp = Pointers(environment);
    if (::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
        pid = 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline bool GroupGone(pid_t group)
{
    return ::kill(-group, 0) != 0 && errno == ESRCH;
}

// Ends the program as the session's end would, then whatever of its group
// is left, and waits until none of it runs.
inline void StopGroup(pid_t group)
{
    using namespace std::chrono_literals;
    ::kill(-group, SIGTERM);
    const Clock::time_point deadline = Clock::now() + kStopTimeout;
    bool reaped = false;
    while (Clock::now() < deadline) {
        reaped = reaped || ::waitpid(group, nullptr, WNOHANG) == group;
        if (reaped && GroupGone(group))
            return;
        std::this_thread::sleep_for(20ms);
    }
    ::kill(-group, SIGKILL);
    if (!reaped)
        ::waitpid(group, nullptr, 0);
    for (int i = 0; i < 100 && !GroupGone(group); ++i)
        std::this_thread::sleep_for(20ms);
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace kestrel::bench
