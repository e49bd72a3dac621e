// A publish to a room of simulated screens, until the room view shows every
// one of them updated.
//
// One run starts the built kestrel-announce signing with a key of the run's
// own, announcing the published catalogue every 2 s (the default) to
// 127.0.0.1 and hearing reports, and a room of simulated pupils in this
// process, each with the program's own receiver and reporter on its own
// loopback address, trusting that key. Each round writes a new published
// catalogue as the page does (renamed into place) and times the wait until
// the announcer's room.json names the new catalogue (on_air_ms) and until
// it shows every screen "applied" (applied_ms; medians, and the slowest). The announcer's own CPU time (from /proc) over the rounds
// gives its share of one core and its time per report heard.
//   build/bench/bench_room [--benchmark_filter=...]

#include "bench/PupilSimulator.h"
#include "bench/SpawnedPrograms.h"
#include "channel/TrustedKeys.h"
#include "tests/support/TemporaryFolder.h"
#include "tools/SecretKeyFile.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <sys/eventfd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace kestrel {
namespace {

using namespace bench;
using namespace std::chrono_literals;

constexpr int kRounds = 5;
constexpr auto kSettleTimeout = 60s;
constexpr auto kRoundTimeout = 20s;
constexpr auto kLookEvery = 10ms;

std::int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// The announcer's CPU time so far, user and system, in seconds.
double CpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command's closing parenthesis; utime and stime
    // are the 12th and 13th of them.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12)
            utime = std::stoull(field);
        if (i == 13)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The catalogue the page would write for round `round`: a home and three
// links, one of which changes its address every round.
void Publish(const std::string& path, int round)
{
    const std::string written = path + ".new";
    std::ofstream(written) << "[home]\nurl = http://127.0.0.1:1/\n"
                           << "[link]\nname = 语文\nurl = http://127.0.0.1:1/chinese/" << round << "\n"
                           << "[link]\nname = 数学\nurl = http://127.0.0.1:1/maths\n"
                           << "[link]\nname = 英语\nurl = http://127.0.0.1:1/english\n";
    std::rename(written.c_str(), path.c_str());
}

struct RoomView {
    std::string onAir;
    int machines = 0;
    int applied = 0;
};

std::optional<RoomView> ReadRoomView(const std::string& path)
{
    std::ifstream file(path);
    const nlohmann::json summary = nlohmann::json::parse(file, nullptr, false);
    if (!summary.is_object() || !summary.contains("counts"))
        return std::nullopt;
    return RoomView{summary.value("onAir", ""), summary["counts"].value("machines", 0),
                    summary["counts"].value("applied", 0)};
}

// Waits until the room view shows all `count` screens on a catalogue other
// than `before`; the new one, or nothing within `timeout`. `onAirAt` is
// when the view first named the new catalogue.
std::optional<std::string> WaitForAllApplied(const std::string& path, int count, const std::string& before,
                                             Clock::duration timeout, Clock::time_point& onAirAt)
{
    bool named = false;
    for (const Clock::time_point until = Clock::now() + timeout; Clock::now() < until;) {
        const std::optional<RoomView> view = ReadRoomView(path);
        const bool changed = view && !view->onAir.empty() && view->onAir != before;
        if (changed && !named)
            onAirAt = Clock::now();
        named = named || changed;
        if (changed && view->applied == count)
            return view->onAir;
        std::this_thread::sleep_for(kLookEvery);
    }
    return std::nullopt;
}

void BM_PublishToEveryScreenApplied(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    test::TemporaryFolder folder;
    const std::string published = folder.Path() + "/catalogue.ini";
    const std::string onAir = folder.Path() + "/on-air";
    const std::string summary = onAir + "/room.json";
    std::filesystem::create_directories(onAir);
    SigningKey key;
    std::string error;
    const std::string keyPath = folder.Path() + "/announce.key";
    const std::string trusted = folder.Path() + "/trusted-keys";
    if (!CreateSecretKeyFile(keyPath, key, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::ofstream(trusted) << TrustedKeyLine(key.publicKey, "room") << "\n";
    Publish(published, 0);
    const int channelPort = FreePort(SOCK_DGRAM);
    const int reportPort = FreePort(SOCK_DGRAM);
    const pid_t announcer = StartInOwnGroup(
        {KESTREL_ANNOUNCE_PATH, "--to", "127.0.0.1", "--port", std::to_string(channelPort), "--report-port",
         std::to_string(reportPort), "--key", keyPath, "--state", folder.Path() + "/counter", "--published",
         published, "--on-air", onAir},
        ChildEnvironment(folder.Path()));

    PupilOptions options;
    options.port = static_cast<std::uint16_t>(channelPort);
    options.bindAddress = "127.0.0.1";
    options.count = count;
    options.trustedKeysPath = trusted;
    CPupilSimulator room(options);
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    std::thread pupils;
    if (announcer != 0 && room.Start())
        pupils = std::thread([&] { room.RunUntil(SteadyMs() + 3600 * 1000, stop); });

    Clock::time_point onAirAt;
    std::optional<std::string> shown = pupils.joinable()
        ? WaitForAllApplied(summary, count, "", kSettleTimeout, onAirAt) : std::nullopt;
    std::vector<double> samples, onAirSamples;
    const double cpuBefore = announcer != 0 ? CpuSeconds(announcer) : 0;
    const std::uint64_t reportsBefore = room.ReportsSent();
    const Clock::time_point measuredFrom = Clock::now();
    int round = 0;
    for (auto _ : state) {
        if (!shown) {
            state.SkipWithError("the room view never showed every screen updated");
            break;
        }
        const Clock::time_point published_at = Clock::now();
        Publish(published, ++round);
        shown = WaitForAllApplied(summary, count, *shown, kRoundTimeout, onAirAt);
        if (!shown)
            continue;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - published_at).count();
        samples.push_back(ms);
        onAirSamples.push_back(std::chrono::duration<double, std::milli>(onAirAt - published_at).count());
        std::fprintf(stderr, "round %d: on the air in the view after %.0f ms, %d/%d applied after %.0f ms\n", round,
                     onAirSamples.back(), count, count, ms);
        state.SetIterationTime(ms / 1000);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - measuredFrom).count();
    const double cpu = announcer != 0 ? CpuSeconds(announcer) - cpuBefore : 0;
    const std::uint64_t reports = room.ReportsSent() - reportsBefore;
    const std::uint64_t one = 1;
    ::write(stop, &one, sizeof one);
    if (pupils.joinable())
        pupils.join();
    ::close(stop);
    if (announcer != 0)
        StopGroup(announcer);
    state.counters["on_air_ms"] = Median(onAirSamples);
    state.counters["applied_ms"] = Median(samples);
    state.counters["slowest_ms"] = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    state.counters["cpu_percent"] = seconds > 0 ? 100 * cpu / seconds : 0;
    state.counters["cpu_us_per_report"] = reports > 0 ? 1e6 * cpu / static_cast<double>(reports) : 0;
}

BENCHMARK(BM_PublishToEveryScreenApplied)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(kRounds);

} // namespace
} // namespace kestrel

BENCHMARK_MAIN();
