// The table of attacks against both web servers, each attack against a
// fresh server process: the teachers' publishing page (kestrel-publish) and
// the announcer's kestrel-announce --serve. For each it prints the server's
// peak memory above idle (goal: under 64 MiB) and the longest answer to an
// ordinary request from another address meanwhile (goal: under 1 s). The
// page's first row is no attack but one sign-in: a password check takes
// argon2id's memory (64 MiB for the accounts' hashes), one at a time, in
// every row that signs in.
//
//   bench_attacks [NAME...]     only the attacks whose names hold NAME

#include "publish/TeacherAccounts.h"
#include "tests/support/HttpAttacks.h"
#include "tests/support/PublishAttacks.h"
#include "tests/support/TemporaryFolder.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

struct ServerUnderTest {
    const char* name;
    std::vector<std::string> (*arguments)(const std::string& folder, int port);
    // The target's paths: the ordinary request's, the bodies', the link's.
    const char* path;
    const char* postPath;
    const char* linkPath;
    std::vector<test::HttpAttack> attacks;
};

std::vector<std::string> PageArguments(const std::string& folder, int port)
{
    return {KESTREL_PUBLISH_PATH, "--port", std::to_string(port), "--state", folder + "/state", "--users",
        folder + "/users", "--catalogue", folder + "/none.ini", "--picture-url", "http://127.0.0.1:8080/pictures/"};
}

std::vector<std::string> AnnouncerArguments(const std::string& folder, int port)
{
    return {KESTREL_ANNOUNCE_PATH, "--serve", folder + "/served", "--http-address", "127.0.0.1", "--http-port",
        std::to_string(port), "--to", "127.0.0.1", "--port", std::to_string(port)};
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The server with its output in `log`, so that no pipe can fill and stop it.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& log)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t pid)
{
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool Prepare(const std::string& folder)
{
    std::ofstream(folder + "/outside.txt") << "not to be served\n";
    ::mkdir((folder + "/served").c_str(), 0755);
    std::ofstream(folder + "/served/picture.bmp") << "BM" << std::string(1780, 'p');
    return ::symlink((folder + "/outside.txt").c_str(), (folder + "/served/link.txt").c_str()) == 0
        && CTeacherAccounts(folder + "/users").SetPassword(test::kAttackTeacher, test::kAttackPassword).empty();
}

bool Chosen(const char* name, int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string(name).find(argv[i]) != std::string::npos)
            return true;
    }
    return argc < 2;
}

int Run(int argc, char** argv)
{
    test::TemporaryFolder folder;
    if (!Prepare(folder.Path())) {
        std::fprintf(stderr, "bench_attacks: cannot prepare %s\n", folder.Path().c_str());
        return 1;
    }
    std::vector<test::HttpAttack> pageAttacks = {test::kOneSignIn};
    pageAttacks.insert(pageAttacks.end(), test::WebLayerAttacks().begin(), test::WebLayerAttacks().end());
    pageAttacks.insert(pageAttacks.end(), test::PublishPageAttacks().begin(), test::PublishPageAttacks().end());
    const ServerUnderTest servers[] = {
        {"page", &PageArguments, "/", "/api/sign-in", "", pageAttacks},
        {"announcer", &AnnouncerArguments, "/picture.bmp", "/picture.bmp", "/link.txt", test::WebLayerAttacks()},
    };
    std::printf("%-10s %-40s %9s %15s %9s  %s\n", "server", "attack", "peak MiB", "longest answer", "harmless",
        "what happened");
    std::string missed;
    for (const ServerUnderTest& server : servers) {
        for (const test::HttpAttack& attack : server.attacks) {
            if (!Chosen(attack.name, argc, argv))
                continue;
            test::AttackTarget target;
            target.port = FreePort();
            target.path = server.path;
            target.postPath = server.postPath;
            target.linkPath = server.linkPath;
            const pid_t pid = Spawn(server.arguments(folder.Path(), target.port), folder.Path() + "/server.log");
            bool up = false;
            for (int i = 0; i < 100 && !up; ++i) {
                up = test::OrdinaryGet(target.port, target.path, 200ms) == 200;
                if (!up)
                    std::this_thread::sleep_for(100ms);
            }
            if (!up) {
                std::printf("%-10s %-40s the server did not start; see %s\n", server.name, attack.name,
                    (folder.Path() + "/server.log").c_str());
                Stop(pid);
                return 1;
            }
            const test::AttackReport report = test::RunAttack(attack, target, pid);
            Stop(pid);
            const double peakMib = report.peakKibAboveIdle / 1024.0;
            const bool well = report.outcome.harmless && report.ordinaryUnanswered == 0 && report.answeredAfterwards
                && peakMib < 64 && report.longestOrdinaryAnswer < 1s;
            if (!well)
                missed += std::string(missed.empty() ? "" : ", ") + server.name + ": " + attack.name;
            const std::string unanswered = report.ordinaryUnanswered == 0 ? ""
                : " (" + std::to_string(report.ordinaryUnanswered) + " of " + std::to_string(report.ordinaryRequests)
                    + " ordinary requests unanswered)";
            std::printf("%-10s %-40s %9.1f %12lld ms %9s  %s%s\n", server.name, attack.name, peakMib,
                static_cast<long long>(report.longestOrdinaryAnswer.count()), report.outcome.harmless ? "yes" : "NO",
                report.outcome.detail.c_str(), unanswered.c_str());
            std::fflush(stdout);
        }
    }
    std::printf("%s%s\n", missed.empty() ? "every attack within the goals" : "over a goal: ", missed.c_str());
    return 0;
}

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    return kestrel::Run(argc, argv);
}
