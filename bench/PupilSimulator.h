#pragma once

#include "base/ClassroomState.h"
#include "channel/ChannelSocket.h"
#include "channel/LinkReceiver.h"
#include "channel/ScreenReporter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// What the simulated room is.
struct PupilOptions {
    // The room's channel port: heard, bound into the frames taken, named in
    // every report.
    std::uint16_t port = 9000;
    // As a browser's "IP地址" and "组播地址": the card heard on (empty:
    // every card) and a multicast group joined (empty: none).
    std::string bindAddress;
    std::string group;
    int count = 1000;
    // The first `stale` pupils hear states but no link records, as a
    // machine that never takes a change.
    int stale = 0;
    // The trusted-keys file: without a trusted state nobody reports.
    std::string trustedKeysPath;
    // Pupil i reports from this address plus i (host order): its own
    // loopback address, so the announcer's table holds each apart.
    std::uint32_t firstAddress = 0x7F640001; // 127.100.0.1
    // With a port: the pupils hear nothing and report to this address
    // (IPv4, network order) and port as machines that never took a state,
    // every five seconds: for a room whose channel port a browser on the
    // same machine holds. No keys are needed then.
    std::uint32_t reportAddress = 0;
    std::uint16_t reportPort = 0;
};

// A classroom in one process: every simulated pupil has the program's own
// link receiver (fed each frame the one listening socket hears), its own
// digest of the held records as the last state lists them, and its own
// reporter with its own socket on its own address, following the same
// rules as the window's. Each frame is fed to the pupils by a thread per
// core: a real room checks its signatures on every machine at once, and
// the last pupil should not wait for all the others. Nothing is allocated
// per datagram once started.
class CPupilSimulator {
public:
    static constexpr int kMaxPupils = 4096;
    static constexpr int kMaxDatagramsPerWake = 256;

    explicit CPupilSimulator(const PupilOptions& options);
    ~CPupilSimulator();
    CPupilSimulator(const CPupilSimulator&) = delete;
    CPupilSimulator& operator=(const CPupilSimulator&) = delete;

    // Reads the keys and opens the listening socket; false, having printed
    // why, when either fails.
    bool Start();
    // Hears and reports until the steady clock reaches `deadlineMs` or
    // `stopFd` (when not -1) becomes readable; false when it did.
    bool RunUntil(std::int64_t deadlineMs, int stopFd = -1);

    int Count() const { return static_cast<int>(m_pupils.size()); }
    // Pupils holding every record their state lists, as the state's digest says.
    int AppliedCount() const;
    std::uint64_t ReportsSent() const;

private:
    struct Pupil;
    class Ear;
    class Crew;

    void Hear(FrameView frame, std::uint32_t source);
    // Feeds the frame to share `share` of `shares` of the pupils.
    void FeedShare(FrameView frame, int share, int shares);
    // Takes new states, looks at what changed, sends what is due; gives
    // the time the next report is due.
    std::int64_t Tend(std::int64_t nowMs);

    PupilOptions m_options;
    std::vector<std::unique_ptr<Pupil>> m_pupils;
    std::unique_ptr<Crew> m_crew;
    std::unique_ptr<Ear> m_ear;
    // Scratch for each state taken, so that none is made per datagram.
    ClassroomState m_taken;
    // The sender of the last state heard (IPv4, network order), where
    // reports go when the state names no address.
    std::uint32_t m_stateSource = 0;
};

} // namespace kestrel
