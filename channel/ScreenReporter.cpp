#include "channel/ScreenReporter.h"

#include "base/ConsoleLine.h"
#include "base/SteadyClock.h"
#include "channel/SocketErrorText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

namespace {

bool IsPrintableAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Consecutive seeds give a linear congruential generator nearly the same
// first numbers: mixed first (MurmurHash3's finaliser), they do not.
std::uint32_t MixedSeed(std::uint32_t seed)
{
    seed ^= seed >> 16;
    seed *= 0x85EBCA6Bu;
    seed ^= seed >> 13;
    seed *= 0xC2B2AE35u;
    seed ^= seed >> 16;
    // The generator's seed must not be a multiple of its modulus.
    return seed % 0x7FFFFFFFu == 0 ? 1 : seed;
}

} // namespace

ReportIdentity ThisMachine(bool withheld)
{
    ReportIdentity identity;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        identity.machine = host;
    if (const passwd* user = getpwuid(geteuid()))
        identity.login = user->pw_name;
    identity.version = KESTREL_VERSION;
    identity.withheld = withheld;
    identity.startedMs = SteadyMilliseconds();
    return identity;
}

CScreenReporter::CScreenReporter(const ReportIdentity& identity, std::uint32_t seed, std::uint32_t sourceAddress)
    : m_startedMs(identity.startedMs)
    , m_random(MixedSeed(seed))
    , m_sourceAddress(sourceAddress)
{
    SetReportText(m_report.machine, identity.machine);
    SetReportText(m_report.login, identity.withheld ? std::string_view() : identity.login);
    SetReportText(m_report.version, identity.version);
    m_report.flags = identity.withheld ? kReportWithheld : 0;
}

CScreenReporter::~CScreenReporter()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

void CScreenReporter::FollowState(const ClassroomState& state, std::uint16_t channelPort, std::int64_t nowMs)
{
    // Never to an unknown sender: only a trusted state says where reports go.
    if (!state.signedByTrustedKey || state.reportPort == 0 || state.reportAddress == 0) {
        Stop();
        return;
    }
    const bool newDestination = state.reportAddress != m_destinationAddress || state.reportPort != m_destinationPort;
    m_state = state;
    m_destinationAddress = state.reportAddress;
    m_destinationPort = state.reportPort;
    m_validForMs = std::max<std::uint32_t>(state.validForSeconds, 1) * 1000;
    m_report.stateCounter = state.counter;
    m_report.channelPort = channelPort;
    m_report.flags |= kReportSigned;
    if (newDestination)
        ReportSoon(nowMs);
}

void CScreenReporter::Stop()
{
    m_destinationAddress = 0;
    m_destinationPort = 0;
    m_dueMs = kNever;
}

void CScreenReporter::Show(ClassroomMode mode, const CLinkRecordStore& store, std::string_view pageHost,
                           std::int64_t nowMs)
{
    CatalogueDigest digest{};
    const bool complete = store.DigestListed(m_state, digest);
    const unsigned char flags = (m_report.flags & ~kReportComplete) | (complete ? kReportComplete : 0);
    // The announcer refuses a host that is not ASCII: such a page is named by none.
    const bool withheld = (m_report.flags & kReportWithheld) != 0;
    char host[sizeof m_report.pageHost];
    SetReportText(host, withheld || !IsPrintableAscii(pageHost) ? std::string_view() : pageHost);
    if (mode == m_report.mode && flags == m_report.flags && digest == m_report.digest
        && std::memcmp(host, m_report.pageHost, sizeof host) == 0)
        return;
    m_report.mode = mode;
    m_report.flags = flags;
    m_report.digest = digest;
    std::memcpy(m_report.pageHost, host, sizeof host);
    if (Reporting())
        ReportSoon(nowMs);
}

std::int64_t CScreenReporter::SendWhenDue(std::int64_t nowMs)
{
    if (!Reporting())
        return kNever;
    if (nowMs < m_dueMs)
        return m_dueMs;
    m_report.uptimeSeconds = static_cast<std::uint32_t>(std::max<std::int64_t>(nowMs - m_startedMs, 0) / 1000);
    if (Send())
        ++m_sent;
    const double jitter = std::uniform_real_distribution<double>(0.8, 1.2)(m_random);
    m_dueMs = nowMs + static_cast<std::int64_t>(m_validForMs / 2 * jitter);
    return m_dueMs;
}

void CScreenReporter::ReportSoon(std::int64_t nowMs)
{
    m_dueMs = std::min(m_dueMs, nowMs + std::uniform_int_distribution<int>(0, kChangeDelayMs)(m_random));
}

bool CScreenReporter::Send()
{
    if (m_socket < 0 && !m_socketFailed) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = m_sourceAddress;
        if (m_socket < 0
            || (m_sourceAddress != 0
                && ::bind(m_socket, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0)) {
            // Said once: the screen goes on without reports.
            PrintLine("Reports cannot be sent: " + SocketErrorText(SocketErrorCode(errno)));
            m_socketFailed = true;
            if (m_socket >= 0)
                ::close(m_socket);
            m_socket = -1;
        }
    }
    if (m_socket < 0)
        return false;
    unsigned char frame[kReportFrameSize];
    EncodeReportFrame(m_report, frame);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(m_destinationPort);
    destination.sin_addr.s_addr = m_destinationAddress;
    // A full buffer loses this report; the next one comes anyway.
    return ::sendto(m_socket, frame, sizeof frame, MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&destination), sizeof destination)
        == static_cast<ssize_t>(sizeof frame);
}

} // namespace kestrel
