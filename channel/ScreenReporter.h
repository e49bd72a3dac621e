#pragma once

#include "base/ClassroomState.h"
#include "channel/LinkRecordStore.h"
#include "channel/ReportFrame.h"

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace kestrel {

// Who a screen is, as each of its reports says.
struct ReportIdentity {
    std::string machine;
    std::string login;
    std::string version;
    // The settings keep the login and the page's host to the machine.
    bool withheld = false;
    // Steady-clock milliseconds of the program's start.
    std::int64_t startedMs = 0;
};

// This machine: its host name, the login name of the process's user, this
// program's version, started now.
ReportIdentity ThisMachine(bool withheld);

// Tells the announcer of the last trusted state what this screen shows:
// once, at a random moment within a second, after the screen changed (its
// digest, mode or page host; a new counter alone is no change), otherwise
// every half "valid for", give or take a fifth, so that a room's screens do
// not answer together. Reports go only while a signed state naming a
// report port and address lasts. The caller owns the clock: it says what
// is shown and asks for the report when it is due.
class CScreenReporter {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    static constexpr int kChangeDelayMs = 1000;

    // `seed` chooses the random delays: reporters with different seeds
    // (consecutive ones too) spread out. `sourceAddress` (IPv4, network
    // order): the address reports are sent from, 0 for the system's choice.
    CScreenReporter(const ReportIdentity& identity, std::uint32_t seed, std::uint32_t sourceAddress = 0);
    ~CScreenReporter();
    CScreenReporter(const CScreenReporter&) = delete;
    CScreenReporter& operator=(const CScreenReporter&) = delete;

    // A state was applied on a screen listening on `channelPort`. Reports
    // follow it when it is signed and names where they go; otherwise they
    // stop.
    void FollowState(const ClassroomState& state, std::uint16_t channelPort, std::int64_t nowMs);
    // The state lapsed: no reports until the next one.
    void Stop();
    // What the screen shows now: its mode, the held records (digested as
    // the followed state lists them) and the host of its page.
    void Show(ClassroomMode mode, const CLinkRecordStore& store, std::string_view pageHost, std::int64_t nowMs);
    // Sends the report when it is due; gives the time the next one is due,
    // kNever while not reporting.
    std::int64_t SendWhenDue(std::int64_t nowMs);

    bool Reporting() const { return m_destinationPort != 0; }
    // When the next report is due; kNever while not reporting.
    std::int64_t DueMs() const { return Reporting() ? m_dueMs : kNever; }
    const ScreenReport& Report() const { return m_report; }
    std::uint64_t SentCount() const { return m_sent; }

private:
    // A change shows within a second; an earlier report due stays.
    void ReportSoon(std::int64_t nowMs);
    bool Send();

    ScreenReport m_report;
    std::int64_t m_startedMs;
    std::minstd_rand m_random;
    std::uint32_t m_sourceAddress;
    int m_socket = -1;
    bool m_socketFailed = false;
    ClassroomState m_state;
    std::uint32_t m_destinationAddress = 0;
    std::uint16_t m_destinationPort = 0;
    std::uint32_t m_validForMs = 0;
    std::int64_t m_dueMs = kNever;
    std::uint64_t m_sent = 0;
};

} // namespace kestrel
