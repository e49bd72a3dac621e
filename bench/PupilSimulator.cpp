#include "bench/PupilSimulator.h"

#include "base/ConsoleLine.h"
#include "base/SteadyClock.h"
#include "channel/TrustedKeys.h"

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace kestrel {

struct CPupilSimulator::Pupil {
    Pupil(const ReportIdentity& identity, std::uint32_t seed, std::uint32_t address)
        : reporter(identity, seed, address)
    {
    }

    CLinkReceiver receiver;
    CScreenReporter reporter;
    bool stale = false;
    // Frames arrived since the last look.
    bool heard = false;
    ClassroomMode mode = ClassroomMode::Open;
    CatalogueDigest onAir{};
    std::int64_t stateEndsMs = 0;
};

// The one socket the room hears on; every frame goes to every pupil.
class CPupilSimulator::Ear : public CChannelSocket {
public:
    explicit Ear(CPupilSimulator& room) : m_room(room) { KeepDatagramSources(true); }

protected:
    void OnFrame(FrameView frame) override { m_room.Hear(frame, DatagramSource()); }

private:
    CPupilSimulator& m_room;
};

// Helper threads that feed their share of the pupils each frame heard, as
// a real room checks its signatures on every machine at once; the caller
// feeds the first share and returns when every share is fed.
class CPupilSimulator::Crew {
public:
    Crew(CPupilSimulator& room, int helpers) : m_room(room), m_shares(helpers + 1)
    {
        for (int share = 1; share <= helpers; ++share)
            m_threads.emplace_back([this, share] { Help(share); });
    }
    ~Crew()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_go.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    void Feed(FrameView frame)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_frame = frame;
            ++m_round;
            m_busy = static_cast<int>(m_threads.size());
        }
        m_go.notify_all();
        m_room.FeedShare(frame, 0, m_shares);
        std::unique_lock<std::mutex> guard(m_lock);
        m_done.wait(guard, [this] { return m_busy == 0; });
    }

private:
    void Help(int share)
    {
        std::uint64_t fed = 0;
        for (;;) {
            std::unique_lock<std::mutex> guard(m_lock);
            m_go.wait(guard, [&] { return m_stop || m_round != fed; });
            if (m_stop)
                return;
            fed = m_round;
            const FrameView frame = m_frame;
            guard.unlock();
            m_room.FeedShare(frame, share, m_shares);
            guard.lock();
            if (--m_busy == 0)
                m_done.notify_one();
        }
    }

    CPupilSimulator& m_room;
    const int m_shares;
    std::vector<std::thread> m_threads;
    std::mutex m_lock;
    std::condition_variable m_go;
    std::condition_variable m_done;
    FrameView m_frame{nullptr, 0};
    std::uint64_t m_round = 0;
    int m_busy = 0;
    bool m_stop = false;
};

CPupilSimulator::CPupilSimulator(const PupilOptions& options) : m_options(options) {}

CPupilSimulator::~CPupilSimulator() = default;

bool CPupilSimulator::Start()
{
    const bool deaf = m_options.reportPort != 0;
    const TrustedKeysRead read = deaf ? TrustedKeysRead{} : ReadTrustedKeys(m_options.trustedKeysPath);
    for (const std::string& problem : read.lineProblems)
        PrintLine(problem);
    if (!deaf && (!read.refusal.empty() || read.keys.empty())) {
        PrintLine(read.refusal.empty() ? m_options.trustedKeysPath + ": no key" : read.refusal);
        return false;
    }
    // What a deaf pupil follows: reports, and a home record it never holds.
    ClassroomState unheard;
    unheard.hasHome = true;
    unheard.validForSeconds = 10;
    unheard.signedByTrustedKey = true;
    unheard.reportAddress = m_options.reportAddress;
    unheard.reportPort = m_options.reportPort;
    const int count = std::clamp(m_options.count, 1, kMaxPupils);
    const std::int64_t now = SteadyMilliseconds();
    m_pupils.clear();
    m_pupils.reserve(count);
    for (int i = 0; i < count; ++i) {
        char machine[16];
        std::snprintf(machine, sizeof machine, "pupil-%04d", i + 1);
        const ReportIdentity identity{machine, "pupil", KESTREL_VERSION, false, now};
        auto pupil = std::make_unique<Pupil>(identity, static_cast<std::uint32_t>(i + 1),
                                             htonl(m_options.firstAddress + static_cast<std::uint32_t>(i)));
        pupil->receiver.RequireSignaturesOf(read.keys);
        pupil->receiver.TakeFramesBoundTo(m_options.port);
        pupil->stale = i < m_options.stale;
        if (deaf) {
            pupil->reporter.FollowState(unheard, m_options.port, now);
            pupil->reporter.Show(ClassroomMode::Open, pupil->receiver.Store(), {}, now);
            pupil->stateEndsMs = CScreenReporter::kNever;
        }
        m_pupils.push_back(std::move(pupil));
    }
    if (deaf)
        return true;
    // One share for each core; small rooms need no help.
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    m_crew = std::make_unique<Crew>(*this, count < 64 ? 0 : std::clamp(cores - 1, 0, 3));
    m_ear = std::make_unique<Ear>(*this);
    if (!m_ear->Open(m_options.bindAddress.c_str(), m_options.port, nullptr, m_options.group.c_str()))
        return false;
    // One socket hears for the whole room, and lags while the pupils check
    // a burst: rounds wait rather than drop (as far as net.core.rmem_max
    // allows).
    const int buffer = 4 << 20;
    setsockopt(m_ear->SocketHandle(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    return true;
}

void CPupilSimulator::Hear(FrameView frame, std::uint32_t source)
{
    const bool record = frame.Type() != kClassroomStateFrameType;
    if (!record)
        m_stateSource = source;
    m_crew->Feed(frame);
}

void CPupilSimulator::FeedShare(FrameView frame, int share, int shares)
{
    const bool record = frame.Type() != kClassroomStateFrameType;
    const std::size_t count = m_pupils.size();
    for (std::size_t i = count * share / shares; i < count * (share + 1) / shares; ++i) {
        Pupil& pupil = *m_pupils[i];
        if (record && pupil.stale)
            continue;
        pupil.receiver.Feed(frame.Bytes(), frame.Size());
        pupil.heard = true;
    }
}

std::int64_t CPupilSimulator::Tend(std::int64_t nowMs)
{
    std::int64_t next = CScreenReporter::kNever;
    for (const std::unique_ptr<Pupil>& pupil : m_pupils) {
        if (pupil->heard && pupil->receiver.TakeState(m_taken)) {
            // Fed frames have no sender of their own: the listener's stands in.
            if (m_taken.reportAddress == 0)
                m_taken.reportAddress = m_stateSource;
            pupil->reporter.FollowState(m_taken, m_options.port, nowMs);
            pupil->mode = m_taken.mode;
            pupil->onAir = m_taken.digest;
            pupil->stateEndsMs = nowMs + std::int64_t{std::max<std::uint32_t>(m_taken.validForSeconds, 1)} * 1000;
        }
        // As the window: without a state for its "valid for", no reports.
        if (pupil->reporter.Reporting() && nowMs >= pupil->stateEndsMs) {
            pupil->reporter.Stop();
            pupil->mode = ClassroomMode::Open;
        }
        if (pupil->heard)
            pupil->reporter.Show(pupil->mode, pupil->receiver.Store(), {}, nowMs);
        pupil->heard = false;
        next = std::min(next, pupil->reporter.SendWhenDue(nowMs));
        if (pupil->reporter.Reporting())
            next = std::min(next, pupil->stateEndsMs);
    }
    return next;
}

bool CPupilSimulator::RunUntil(std::int64_t deadlineMs, int stopFd)
{
    const int ear = m_ear ? m_ear->SocketHandle() : -1;
    for (;;) {
        const std::int64_t now = SteadyMilliseconds();
        const std::int64_t next = std::min(Tend(now), deadlineMs);
        if (now >= deadlineMs)
            return true;
        pollfd waits[2] = {{ear, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int timeout = static_cast<int>(std::clamp<std::int64_t>(next - now, 0, 1000));
        if (::poll(waits, stopFd >= 0 ? 2 : 1, timeout) <= 0)
            continue;
        if ((waits[1].revents & POLLIN) != 0)
            return false;
        // A round's burst at once; the pupils look at it together.
        for (int read = 0; read < kMaxDatagramsPerWake && (waits[0].revents & POLLIN) != 0; ++read) {
            m_ear->OnSocketNotify(static_cast<std::uintptr_t>(ear), CChannelSocket::kReadEvent);
            waits[0].revents = 0;
            ::poll(waits, 1, 0);
        }
    }
}

int CPupilSimulator::AppliedCount() const
{
    return static_cast<int>(std::count_if(m_pupils.begin(), m_pupils.end(), [](const std::unique_ptr<Pupil>& pupil) {
        const ScreenReport& report = pupil->reporter.Report();
        return pupil->reporter.Reporting() && (report.flags & kReportComplete) != 0 && report.digest == pupil->onAir;
    }));
}

std::uint64_t CPupilSimulator::ReportsSent() const
{
    std::uint64_t sent = 0;
    for (const std::unique_ptr<Pupil>& pupil : m_pupils)
        sent += pupil->reporter.SentCount();
    return sent;
}

} // namespace kestrel
