// The test server for the end-to-end scripts: serves the files of a folder
// as they are when it starts, writes its port to a file once it listens and
// logs every request, one line each: target, user agent and client address,
// tab-separated. Ends on SIGTERM or SIGINT, or after an hour.
//   test_http_server ROOT ADDRESS PORT_FILE LOG_FILE

#include "tests/support/TestHttpServer.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace {

constexpr std::chrono::hours kLifetime{1};
constexpr timespec kLogPeriod{0, 100'000'000};

const std::map<std::string, std::string> kContentTypes = {
    {".html", "text/html; charset=utf-8"}, {".bmp", "image/bmp"}, {".png", "image/png"}};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: test_http_server ROOT ADDRESS PORT_FILE LOG_FILE\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::string portFile = argv[3];
    // Blocked before the server's threads start, so that they inherit it and
    // only the wait below takes the signal.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    kestrel::test::CTestHttpServer server(argv[2]);
    if (!server.Started()) {
        std::fprintf(stderr, "test_http_server: cannot listen on %s\n", argv[2]);
        return 1;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const auto type = kContentTypes.find(entry.path().extension().string());
        server.Answer("/" + entry.path().lexically_relative(root).string(),
                      kestrel::test::Reply(std::string(std::istreambuf_iterator<char>(file), {}))
                          .Type(type != kContentTypes.end() ? type->second : "application/octet-stream"));
    }
    std::ofstream(portFile + ".part") << server.Port();
    std::filesystem::rename(portFile + ".part", portFile);

    std::ofstream log(argv[4], std::ios::app);
    std::size_t logged = 0;
    const auto end = std::chrono::steady_clock::now() + kLifetime;
    while (sigtimedwait(&endSignals, nullptr, &kLogPeriod) < 0 && std::chrono::steady_clock::now() < end) {
        const std::vector<kestrel::test::Request> requests = server.Requests();
        for (; logged < requests.size(); ++logged) {
            const kestrel::test::Request& request = requests[logged];
            log << request.target << '\t' << request.Header("user-agent") << '\t' << request.client << '\n';
        }
        log.flush();
    }
    return 0;
}
