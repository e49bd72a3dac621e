// A teacher's click on 暂停 to the covered screen of a pupil's browser.
//
// One run starts the built kestrel-publish, the built kestrel-announce
// signing with a key of the run's own and announcing what the page writes
// (--published-state, as the service does), and the built kestrel trusting
// that key, all on 127.0.0.1; the browser runs offscreen, as the start-up
// benchmark runs it. The clock starts just before the request that the
// page's 暂停 button sends (POST /api/mode, signed in, with the session's
// token) and stops when the browser prints "Classroom mode: paused", which
// it does as it raises the cover. 开放 then uncovers it, timed the same way
// (uncover_ms). A round each way that is not counted comes first, while the
// browser starts; the counters are medians.

#include "bench/SpawnedPrograms.h"
#include "channel/TrustedKeys.h"
#include "publish/TeacherAccounts.h"
#include "tests/support/TemporaryFolder.h"
#include "tools/SecretKeyFile.h"

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <poll.h>

#include <cstdio>
#include <fstream>
#include <optional>

namespace kestrel {
namespace {

using namespace bench;
using namespace std::chrono_literals;

constexpr int kRounds = 9;
constexpr auto kStartTimeout = 90s;
constexpr auto kLineTimeout = 10s;
constexpr auto kBetweenRounds = 1s;
const char kTeacher[] = "anna";
const char kPassword[] = "correct horse";

// The browser's standard output, read through a pipe as it comes.
class CProgramOutput {
public:
    CProgramOutput() { m_valid = ::pipe2(m_fds, O_CLOEXEC) == 0; }
    ~CProgramOutput()
    {
        if (m_valid) {
            ::close(m_fds[0]);
            ::close(m_fds[1]);
        }
    }
    CProgramOutput(const CProgramOutput&) = delete;
    CProgramOutput& operator=(const CProgramOutput&) = delete;

    int WriteEnd() const { return m_valid ? m_fds[1] : -1; }

    // When the next whole line equal to `line` arrived; none within `timeout`.
    std::optional<Clock::time_point> WaitForLine(const std::string& line, Clock::duration timeout)
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        for (;;) {
            const std::size_t found = m_text.find("\n" + line + "\n", m_seen);
            if (found != std::string::npos) {
                m_seen = found + line.size() + 1;
                return m_lastRead;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd readable{m_fds[0], POLLIN, 0};
            if (!m_valid || left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0)
                return std::nullopt;
            char bytes[4096];
            const ssize_t count = ::read(m_fds[0], bytes, sizeof bytes);
            if (count <= 0)
                return std::nullopt;
            m_lastRead = Clock::now();
            m_text.append(bytes, static_cast<std::size_t>(count));
        }
    }

private:
    int m_fds[2] = {-1, -1};
    bool m_valid = false;
    // A newline first, so that the first line is found as every other.
    std::string m_text = "\n";
    std::size_t m_seen = 0;
    Clock::time_point m_lastRead;
};

// A teacher signed in to the page, pressing its mode buttons.
class CTeacher {
public:
    explicit CTeacher(int port) : m_client("127.0.0.1", port), m_origin("http://127.0.0.1:" + std::to_string(port))
    {
        m_client.set_read_timeout(10, 0);
    }

    bool SignIn()
    {
        return Remember(m_client.Get("/api/state"))
            && Remember(Post("/api/sign-in", {{"user", kTeacher}, {"password", kPassword}}));
    }
    bool Press(const char* mode) { return Remember(Post("/api/mode", {{"mode", mode}, {"message", "请看黑板"}})); }

private:
    httplib::Result Post(const char* path, const nlohmann::json& body)
    {
        return m_client.Post(path, {{"Origin", m_origin}, {"X-CSRF-Token", m_csrf}, {"Cookie", m_cookie}}, body.dump(),
                             "application/json");
    }
    bool Remember(const httplib::Result& result)
    {
        if (!result || result->status != 200)
            return false;
        const std::string cookie = result->get_header_value("Set-Cookie");
        if (!cookie.empty())
            m_cookie = cookie.substr(0, cookie.find(';'));
        m_csrf = nlohmann::json::parse(result->body, nullptr, false).value("csrf", "");
        return true;
    }

    httplib::Client m_client;
    std::string m_origin;
    std::string m_cookie;
    std::string m_csrf;
};

// The browser's settings beside its copy, trusting the run's key.
bool TrustKey(const std::string& folder, const std::string& program, std::string& keyPath)
{
    SigningKey key;
    std::string error;
    keyPath = folder + "/announce.key";
    if (!CreateSecretKeyFile(keyPath, key, error))
        return false;
    const std::string trusted = folder + "/trusted-keys";
    std::ofstream(trusted) << TrustedKeyLine(key.publicKey, "click-to-screen") << "\n";
    ::chmod(trusted.c_str(), 0644);
    WriteProfileString(SettingsPathFor(program), kAnnouncementSigningSection, kTrustedKeysFileKey, trusted);
    return true;
}

void BM_ClickOnPauseToCoveredScreen(benchmark::State& state)
{
    test::TemporaryFolder folder;
    const std::string catalogue = folder.Path() + "/catalogue.ini";
    const std::string stateFolder = folder.Path() + "/state";
    std::ofstream(catalogue) << "[link]\nname = 语文\nurl = http://127.0.0.1:1/\n";
    const int channelPort = FreePort(SOCK_DGRAM);
    const int pagePort = FreePort(SOCK_STREAM);
    const std::vector<std::string> environment = ChildEnvironment(folder.Path());
    const std::string program = ProgramCopy(folder.Path(), channelPort);
    std::string keyPath;
    if (!TrustKey(folder.Path(), program, keyPath)
        || !CTeacherAccounts(folder.Path() + "/users").SetPassword(kTeacher, kPassword).empty()) {
        state.SkipWithError("no key or no teacher");
        return;
    }
    CProgramOutput output;
    const pid_t page = StartInOwnGroup({KESTREL_PUBLISH_PATH, "--port", std::to_string(pagePort), "--state",
                                        stateFolder, "--users", folder.Path() + "/users", "--catalogue", catalogue},
                                       environment);
    const pid_t announcer = StartInOwnGroup(
        {KESTREL_ANNOUNCE_PATH, "--to", "127.0.0.1", "--port", std::to_string(channelPort), "--interval", "1", "--key",
         keyPath, "--state", folder.Path() + "/counter", "--published", stateFolder + "/catalogue.ini",
         "--published-state", stateFolder + "/classroom-state.ini", catalogue},
        environment);
    const pid_t browser = StartInOwnGroup({program}, environment, output.WriteEnd());
    CTeacher teacher(pagePort);
    bool signedIn = false;
    for (const Clock::time_point until = Clock::now() + 10s; !signedIn && Clock::now() < until;)
        signedIn = teacher.SignIn() || (std::this_thread::sleep_for(100ms), false);
    // The first pause covers the browser once it runs and hears the state.
    const bool started = signedIn && teacher.Press("paused")
        && output.WaitForLine("Classroom mode: paused", kStartTimeout) && teacher.Press("open")
        && output.WaitForLine("Classroom mode: open", kLineTimeout);
    std::vector<double> coverMs, uncoverMs;
    const auto timed = [&](const char* mode, std::vector<double>& samples) {
        std::this_thread::sleep_for(kBetweenRounds);
        const Clock::time_point click = Clock::now();
        const std::optional<Clock::time_point> shown
            = teacher.Press(mode) ? output.WaitForLine(std::string("Classroom mode: ") + mode, kLineTimeout)
                                  : std::nullopt;
        if (shown)
            samples.push_back(std::chrono::duration<double, std::milli>(*shown - click).count());
        return shown.has_value();
    };
    for (auto _ : state) {
        if (!started || !timed("paused", coverMs) || !timed("open", uncoverMs)) {
            state.SkipWithError("the browser did not print the mode within its wait");
            break;
        }
        std::fprintf(stderr, "round %zu: covered %.1f ms, uncovered %.1f ms after the click\n", coverMs.size(),
                     coverMs.back(), uncoverMs.back());
        state.SetIterationTime(coverMs.back() / 1000);
    }
    for (const pid_t group : {browser, announcer, page}) {
        if (group != 0)
            StopGroup(group);
    }
    state.counters["cover_ms"] = Median(coverMs);
    state.counters["uncover_ms"] = Median(uncoverMs);
}

BENCHMARK(BM_ClickOnPauseToCoveredScreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kRounds);

} // namespace
} // namespace kestrel

BENCHMARK_MAIN();
