// Start-up as a pupil meets it, against a bare web-engine view, in one run.
//
// The clock starts just before the benchmark spawns the built kestrel (a copy
// in a folder of its own, with a settings file beside it that puts the
// channel on 127.0.0.1) and stops when the first bytes of its request for the
// home page reach the page server this benchmark runs on 127.0.0.1. The home
// record is on the air the whole time (sent to the channel port every 10 ms,
// as an announcer already running would send it), so the clock covers the
// process's start, the window, the engine's start, the catalogue's first pass
// (100 ms after the window starts its timers, by design) and the engine's way
// to the request. The bare view (bench_bare_engine_view) is given the address
// on its command line and opens it at once. The two take turns, each first in
// every other round, after one round of each that is not counted.
//
// Memory, one second after the request, when the page has loaded, of the
// process and every process under it (the engine's helpers), and of the
// program's own process alone: the proportional set size (PSS), which falls
// when other programs on the machine map the same libraries, and the
// anonymous memory, which does not.
//
// Without a screen: the offscreen platform, the engine without sandbox or
// GPU, the same environment for both, their folders on tmpfs. The counters
// are medians.
//
//   KESTREL_PROGRAM=PATH bench_startup    measures another build of kestrel

#include "bench/SpawnedPrograms.h"
#include "channel/LinkRecordFrame.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestHttpServer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

namespace kestrel {
namespace {

using namespace bench;
using namespace std::chrono_literals;

constexpr auto kFirstRequestTimeout = 60s;
constexpr auto kSettleAfterRequest = 1s;
constexpr auto kAnnounceInterval = 10ms;
constexpr int kRounds = 7;
constexpr double kFirstTickMs = 100;
const char kHomePath[] = "/home.html";

// The home record, sent to the channel port on 127.0.0.1 until destroyed.
class HomeAnnouncement {
public:
    HomeAnnouncement(int port, const std::string& homeUrl)
        : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        EncodeLinkRecordFrame(test::LinkRecordBuilder("home").Url(homeUrl), 0, m_frame);
        m_thread = std::thread([this, port] {
            const sockaddr_in to = Loopback(port);
            while (!m_stop) {
                (void)::sendto(m_socket, m_frame, sizeof m_frame, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                std::this_thread::sleep_for(kAnnounceInterval);
            }
        });
    }
    ~HomeAnnouncement()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    HomeAnnouncement(const HomeAnnouncement&) = delete;
    HomeAnnouncement& operator=(const HomeAnnouncement&) = delete;

private:
    int m_socket;
    unsigned char m_frame[kLinkRecordFrameSize];
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Memory {
    // Proportional: shared pages count by the share of each process.
    double pssMiB = 0;
    // Anonymous: what the process allocated (heap, stacks, pixels), which,
    // unlike the proportional size, does not change with the other programs
    // that map the same libraries.
    double anonymousMiB = 0;
};

Memory MemoryOf(pid_t pid)
{
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    Memory memory;
    std::string field;
    long kib = 0;
    // The first line names the range the sums cover.
    rollup.ignore(256, '\n');
    while (rollup >> field >> kib) {
        if (field == "Pss:")
            memory.pssMiB += kib / 1024.0;
        else if (field == "Anonymous:")
            memory.anonymousMiB += kib / 1024.0;
        rollup.ignore(64, '\n');
    }
    return memory;
}

// The process and every process under it.
std::vector<pid_t> ProcessTree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (name) state ppid ...": the parent follows the closing bracket.
        const std::size_t bracket = line.rfind(')');
        if (bracket == std::string::npos || bracket + 4 >= line.size())
            continue;
        children.emplace(std::atoi(line.c_str() + bracket + 4), std::atoi(name.c_str()));
    }
    std::vector<pid_t> tree = {root};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto [first, last] = children.equal_range(tree[i]);
        for (auto child = first; child != last; ++child)
            tree.push_back(child->second);
    }
    return tree;
}

struct Sample {
    double ms = 0;
    // The process and every process under it.
    Memory tree;
    // The program's own process.
    Memory own;
};

std::optional<Sample> Measure(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                              const test::CTestHttpServer& server)
{
    const int asked = server.RequestCount(kHomePath);
    const Clock::time_point start = Clock::now();
    const pid_t pid = StartInOwnGroup(arguments, environment);
    if (pid == 0)
        return std::nullopt;
    // Asked every millisecond: the server notes the request once its head is in.
    std::optional<Clock::time_point> requested;
    while (Clock::now() - start < kFirstRequestTimeout && ::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (server.RequestCount(kHomePath) > asked) {
            requested = Clock::now();
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    std::optional<Sample> sample;
    if (requested) {
        std::this_thread::sleep_for(kSettleAfterRequest);
        sample = Sample{std::chrono::duration<double, std::milli>(*requested - start).count(), {}, MemoryOf(pid)};
        for (const pid_t process : ProcessTree(pid)) {
            const Memory memory = MemoryOf(process);
            sample->tree.pssMiB += memory.pssMiB;
            sample->tree.anonymousMiB += memory.anonymousMiB;
        }
    }
    StopGroup(pid);
    return sample;
}

std::string LoadAverage()
{
    std::ifstream loadavg("/proc/loadavg");
    std::string one, five, fifteen;
    loadavg >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void BM_ProcessStartToHomePageRequest(benchmark::State& state)
{
    // On tmpfs, as a desktop's runtime folder is: the lock file's fsync then
    // waits for no disk.
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm"))
        ::setenv("TMPDIR", "/dev/shm", 1);
    test::TemporaryFolder folder;
    test::CTestHttpServer server;
    server.Answer(kHomePath, test::Reply("<html>lesson one</html>"));
    const std::string homeUrl = server.Url(kHomePath);
    const int channelPort = FreePort(SOCK_DGRAM);
    const HomeAnnouncement announcement(channelPort, homeUrl);
    const std::vector<std::string> environment = ChildEnvironment(folder.Path());
    const std::vector<std::string> kestrel = {ProgramCopy(folder.Path(), channelPort)};
    const std::vector<std::string> bare = {KESTREL_BARE_VIEW_PATH, homeUrl};
    const std::string loadBefore = LoadAverage();
    // Files into the page cache, caches made: the rounds then start alike.
    if (!Measure(bare, environment, server) || !Measure(kestrel, environment, server)) {
        state.SkipWithError("no request for the home page in the round not counted");
        return;
    }
    std::vector<Sample> kestrelSamples, bareSamples;
    for (auto _ : state) {
        const bool kestrelFirst = kestrelSamples.size() % 2 == 1;
        std::optional<Sample> first = Measure(kestrelFirst ? kestrel : bare, environment, server);
        std::optional<Sample> second = first ? Measure(kestrelFirst ? bare : kestrel, environment, server) : std::nullopt;
        if (!second) {
            state.SkipWithError("no request for the home page");
            return;
        }
        const Sample& ours = kestrelFirst ? *first : *second;
        const Sample& theirs = kestrelFirst ? *second : *first;
        std::fprintf(stderr,
                     "round %zu: kestrel %.0f ms, PSS %.1f MiB (own %.1f), anonymous %.1f MiB (own %.1f); "
                     "bare %.0f ms, PSS %.1f MiB (own %.1f), anonymous %.1f MiB (own %.1f)\n",
                     kestrelSamples.size() + 1, ours.ms, ours.tree.pssMiB, ours.own.pssMiB, ours.tree.anonymousMiB,
                     ours.own.anonymousMiB, theirs.ms, theirs.tree.pssMiB, theirs.own.pssMiB,
                     theirs.tree.anonymousMiB, theirs.own.anonymousMiB);
        kestrelSamples.push_back(ours);
        bareSamples.push_back(theirs);
        state.SetIterationTime(ours.ms / 1000);
    }
    const auto median = [](const std::vector<Sample>& samples, auto value) {
        std::vector<double> values;
        for (const Sample& sample : samples)
            values.push_back(value(sample));
        return Median(values);
    };
    const double kestrelMs = median(kestrelSamples, [](const Sample& s) { return s.ms; });
    const double bareMs = median(bareSamples, [](const Sample& s) { return s.ms; });
    const double kestrelMiB = median(kestrelSamples, [](const Sample& s) { return s.tree.pssMiB; });
    const double bareMiB = median(bareSamples, [](const Sample& s) { return s.tree.pssMiB; });
    state.counters["kestrel_ms"] = kestrelMs;
    state.counters["bare_ms"] = bareMs;
    state.counters["time_ratio"] = kestrelMs / bareMs;
    state.counters["ratio_to_bare_plus_tick"] = kestrelMs / (bareMs + kFirstTickMs);
    state.counters["kestrel_MiB"] = kestrelMiB;
    state.counters["bare_MiB"] = bareMiB;
    state.counters["memory_ratio"] = kestrelMiB / bareMiB;
    state.counters["kestrel_own_MiB"] = median(kestrelSamples, [](const Sample& s) { return s.own.pssMiB; });
    state.counters["bare_own_MiB"] = median(bareSamples, [](const Sample& s) { return s.own.pssMiB; });
    state.counters["kestrel_anonymous_MiB"] = median(kestrelSamples, [](const Sample& s) { return s.tree.anonymousMiB; });
    state.counters["bare_anonymous_MiB"] = median(bareSamples, [](const Sample& s) { return s.tree.anonymousMiB; });
    state.SetLabel("load average " + loadBefore + " before, " + LoadAverage() + " after");
}

BENCHMARK(BM_ProcessStartToHomePageRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kRounds);

} // namespace
} // namespace kestrel

BENCHMARK_MAIN();
