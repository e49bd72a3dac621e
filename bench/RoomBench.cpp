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
//
// The rooms case does the same with one announcer for 30 rooms of 40
// screens (a rooms file, each room on its own port): each round publishes
// in one room only, times its 40 screens until applied, and counts the
// other rooms whose view still shows every screen applied to the catalogue
// they had (others_unchanged, 29 when all are).
//   build/bench/bench_room [--benchmark_filter=...]

#include "base/SteadyClock.h"
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
#include <memory>
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

// The run's signing key in `folder`: announce.key, and trusted-keys for
// the pupils; false when it could not be made.
bool MakeKey(const std::string& folder, benchmark::State& state)
{
    SigningKey key;
    std::string error;
    if (!CreateSecretKeyFile(folder + "/announce.key", key, error)) {
        state.SkipWithError(error.c_str());
        return false;
    }
    std::ofstream(folder + "/trusted-keys") << TrustedKeyLine(key.publicKey, "room") << "\n";
    return true;
}

// The announcer's options every case gives: the run's key and counter,
// reports on a free port, the room view in `onAir`.
std::vector<std::string> SigningAnnouncer(const std::string& folder, const std::string& onAir)
{
    return {KESTREL_ANNOUNCE_PATH, "--report-port", std::to_string(FreePort(SOCK_DGRAM)), "--key",
        folder + "/announce.key", "--state", folder + "/counter", "--on-air", onAir};
}

void BM_PublishToEveryScreenApplied(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    test::TemporaryFolder folder;
    const std::string published = folder.Path() + "/catalogue.ini";
    const std::string onAir = folder.Path() + "/on-air";
    const std::string summary = onAir + "/room.json";
    const std::string trusted = folder.Path() + "/trusted-keys";
    std::filesystem::create_directories(onAir);
    if (!MakeKey(folder.Path(), state))
        return;
    Publish(published, 0);
    const int channelPort = FreePort(SOCK_DGRAM);
    std::vector<std::string> arguments = SigningAnnouncer(folder.Path(), onAir);
    arguments.insert(arguments.end(), {"--to", "127.0.0.1", "--port", std::to_string(channelPort), "--published", published});
    const pid_t announcer = StartInOwnGroup(arguments, ChildEnvironment(folder.Path()));

    PupilOptions options;
    options.port = static_cast<std::uint16_t>(channelPort);
    options.bindAddress = "127.0.0.1";
    options.count = count;
    options.trustedKeysPath = trusted;
    CPupilSimulator room(options);
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    std::thread pupils;
    if (announcer != 0 && room.Start())
        pupils = std::thread([&] { room.RunUntil(SteadyMilliseconds() + 3600 * 1000, stop); });

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

// One room of the rooms case: its simulated pupils, hearing on its own
// thread, and the files of its folders.
struct SimulatedRoom {
    std::string id;
    std::string published;
    std::string summary;
    std::unique_ptr<CPupilSimulator> pupils;
    std::thread hearing;
    std::string onAir;
};

void BM_PublishInOneOfManyRooms(benchmark::State& state)
{
    const int roomCount = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    test::TemporaryFolder folder;
    const std::string onAir = folder.Path() + "/on-air";
    if (!MakeKey(folder.Path(), state))
        return;
    std::ofstream roomsFile(folder.Path() + "/rooms.ini");
    std::vector<SimulatedRoom> rooms(static_cast<std::size_t>(roomCount));
    for (int i = 0; i < roomCount; ++i) {
        SimulatedRoom& room = rooms[static_cast<std::size_t>(i)];
        room.id = "r" + std::to_string(i);
        const std::string own = folder.Path() + "/state/rooms/" + room.id;
        std::filesystem::create_directories(own);
        room.published = own + "/catalogue.ini";
        room.summary = onAir + "/rooms/" + room.id + "/room.json";
        Publish(room.published, 0);
        PupilOptions options;
        options.port = static_cast<std::uint16_t>(FreePort(SOCK_DGRAM));
        options.bindAddress = "127.0.0.1";
        options.count = count;
        options.trustedKeysPath = folder.Path() + "/trusted-keys";
        options.firstAddress += static_cast<std::uint32_t>(i) << 8;
        roomsFile << "[room]\nid = " << room.id << "\nport = " << options.port << "\nto = 127.0.0.1\n";
        room.pupils = std::make_unique<CPupilSimulator>(options);
    }
    roomsFile.close();
    std::vector<std::string> arguments = SigningAnnouncer(folder.Path(), onAir);
    arguments.insert(arguments.end(), {"--rooms", folder.Path() + "/rooms.ini", "--published",
        folder.Path() + "/state/catalogue.ini", "--published-state", folder.Path() + "/state/classroom-state.ini"});
    const pid_t announcer = StartInOwnGroup(arguments, ChildEnvironment(folder.Path()));
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    bool settled = announcer != 0;
    for (SimulatedRoom& room : rooms) {
        settled = settled && room.pupils->Start();
        if (settled)
            room.hearing = std::thread([&room, stop] { room.pupils->RunUntil(SteadyMilliseconds() + 3600 * 1000, stop); });
    }
    Clock::time_point onAirAt;
    for (SimulatedRoom& room : rooms) {
        const std::optional<std::string> shown
            = settled ? WaitForAllApplied(room.summary, count, "", kSettleTimeout, onAirAt) : std::nullopt;
        settled = shown.has_value();
        room.onAir = shown.value_or("");
    }
    std::vector<double> samples;
    std::vector<double> unchanged;
    const double cpuBefore = announcer != 0 ? CpuSeconds(announcer) : 0;
    const Clock::time_point measuredFrom = Clock::now();
    int round = 0;
    for (auto _ : state) {
        if (!settled) {
            state.SkipWithError("the room views never showed every screen of every room updated");
            break;
        }
        SimulatedRoom& published = rooms[static_cast<std::size_t>(round % roomCount)];
        const Clock::time_point publishedAt = Clock::now();
        Publish(published.published, ++round);
        const std::optional<std::string> shown
            = WaitForAllApplied(published.summary, count, published.onAir, kRoundTimeout, onAirAt);
        if (!shown)
            continue;
        published.onAir = *shown;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - publishedAt).count();
        samples.push_back(ms);
        int others = 0;
        for (const SimulatedRoom& room : rooms) {
            const std::optional<RoomView> view = ReadRoomView(room.summary);
            others += &room != &published && view && view->onAir == room.onAir && view->applied == count ? 1 : 0;
        }
        unchanged.push_back(others);
        std::fprintf(stderr, "round %d: room %s's %d screens applied after %.0f ms; %d other rooms unchanged\n", round,
            published.id.c_str(), count, ms, others);
        state.SetIterationTime(ms / 1000);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - measuredFrom).count();
    const double cpu = announcer != 0 ? CpuSeconds(announcer) - cpuBefore : 0;
    const std::uint64_t one = 1;
    ::write(stop, &one, sizeof one);
    for (SimulatedRoom& room : rooms) {
        if (room.hearing.joinable())
            room.hearing.join();
    }
    ::close(stop);
    if (announcer != 0)
        StopGroup(announcer);
    state.counters["applied_ms"] = Median(samples);
    state.counters["slowest_ms"] = samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    state.counters["others_unchanged"] = unchanged.empty() ? 0 : *std::min_element(unchanged.begin(), unchanged.end());
    state.counters["cpu_percent"] = seconds > 0 ? 100 * cpu / seconds : 0;
}

BENCHMARK(BM_PublishInOneOfManyRooms)->Args({30, 40})->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(kRounds);

} // namespace
} // namespace kestrel

BENCHMARK_MAIN();
