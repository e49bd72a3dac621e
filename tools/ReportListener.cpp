#include "tools/ReportListener.h"

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"
#include "tools/AnnounceOptions.h"
#include "tools/RoomSummary.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

std::int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t UnixSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

CReportListener::CReportListener(const AnnounceOptions& options, const std::vector<ReportedRoom>& rooms,
    std::string version)
    : m_reportPort(static_cast<std::uint16_t>(options.reportPort))
    , m_version(std::move(version))
    , m_subnets(options.reportFrom)
{
    const int capacity = rooms.size() == 1 ? CRoomTable::kCapacity : CRoomTable::kCapacityOfOneOfSeveral;
    for (const ReportedRoom& room : rooms) {
        m_rooms.push_back(
            std::make_unique<Room>(room, static_cast<std::uint32_t>(options.validForSeconds), m_subnets, capacity));
    }
    for (int i = 0; i < kBatchSize; ++i) {
        m_parts[i] = {m_datagrams[i], kDatagramReadSize};
        m_messages[i].msg_hdr.msg_iov = &m_parts[i];
        m_messages[i].msg_hdr.msg_iovlen = 1;
        m_messages[i].msg_hdr.msg_name = &m_senders[i];
    }
}

CReportListener::~CReportListener()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        const std::uint64_t one = 1;
        (void)!write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    for (const int fd : {m_socket, m_wake}) {
        if (fd >= 0)
            close(fd);
    }
}

bool CReportListener::Open(std::string& error)
{
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(m_reportPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    // No SO_REUSEADDR: a second announcer must learn the port is taken.
    if (m_wake < 0 || m_socket < 0
        || bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "report port " + std::to_string(m_reportPort) + ": " + std::strerror(errno)
            + "; no room view, and the screens are asked for no reports";
        return false;
    }
    // Granted up to net.core.rmem_max; the system answers with twice what
    // it granted, its own bookkeeping included.
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    socklen_t size = sizeof m_grantedBuffer;
    getsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &m_grantedBuffer, &size);
    m_grantedBuffer /= 2;
    return true;
}

std::string CReportListener::Describe() const
{
    std::string line = "room view: reports on port " + std::to_string(m_reportPort) + " from";
    for (const Subnet& subnet : m_subnets.Known())
        line += " " + SubnetText(subnet);
    line += m_rooms.size() == 1 ? "; summary in " + m_rooms.front()->summaryFolder + "/" + kSummaryName
                                : "; " + std::to_string(m_rooms.size()) + " rooms, each summary in its room's folder";
    line += "; receive buffer "
        + std::to_string(m_grantedBuffer / 1024) + " KiB";
    if (m_grantedBuffer < kReceiveBufferBytes)
        line += " of " + std::to_string(kReceiveBufferBytes / 1024) + " KiB asked (raise net.core.rmem_max for a larger school)";
    return line;
}

void CReportListener::Start()
{
    m_thread = std::thread([this] { Run(); });
}

void CReportListener::SetOnAir(std::size_t room, const CatalogueDigest& digest)
{
    {
        std::lock_guard<std::mutex> hold(m_onAirLock);
        if (m_rooms[room]->onAir == digest)
            return;
        m_rooms[room]->onAir = digest;
    }
    const std::uint64_t one = 1;
    (void)!write(m_wake, &one, sizeof one);
}

void CReportListener::Run()
{
    pollfd watched[2] = {{m_wake, POLLIN, 0}, {m_socket, POLLIN, 0}};
    while (!m_stopping) {
        poll(watched, 2, static_cast<int>(kShortestWriteGapMs));
        const std::int64_t nowMs = SteadyMilliseconds();
        if (watched[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!read(m_wake, &count, sizeof count);
            std::lock_guard<std::mutex> hold(m_onAirLock);
            for (const std::unique_ptr<Room>& room : m_rooms) {
                if (room->onAir)
                    room->table.SetOnAir(*room->onAir);
            }
        }
        if (watched[1].revents & POLLIN)
            ReadBatches(nowMs);
        const bool tick = nowMs - m_tickedMs >= kTickEveryMs;
        for (const std::unique_ptr<Room>& room : m_rooms) {
            if (tick)
                room->table.Tick(nowMs);
            WriteSummary(*room, nowMs);
        }
        m_tickedMs = tick ? nowMs : m_tickedMs;
    }
}

void CReportListener::ReadBatches(std::int64_t nowMs)
{
    // Bounded, so that a flood still lets the summary be written.
    for (int batch = 0; batch < 64; ++batch) {
        for (mmsghdr& message : m_messages) {
            message.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            message.msg_hdr.msg_flags = 0;
        }
        const int received = recvmmsg(m_socket, m_messages, kBatchSize, MSG_DONTWAIT, nullptr);
        for (int i = 0; i < received; ++i) {
            const msghdr& header = m_messages[i].msg_hdr;
            // A cut datagram is too long to be a report: its length is
            // refused as any other wrong length.
            const std::size_t size = (header.msg_flags & MSG_TRUNC) != 0 ? 0 : m_messages[i].msg_len;
            Dispatch(ntohl(m_senders[i].sin_addr.s_addr), m_datagrams[i], size, nowMs);
        }
        if (received < kBatchSize)
            return;
    }
}

void CReportListener::Dispatch(std::uint32_t address, const unsigned char* datagram, std::size_t size,
    std::int64_t nowMs)
{
    ScreenReport report;
    if (!ReadAdmittedReport(m_subnets, address, datagram, size, nowMs, report, m_portDrops))
        return;
    for (const std::unique_ptr<Room>& room : m_rooms) {
        if (room->table.Port() == report.channelPort)
            return room->table.TakeReport(address, report, nowMs);
    }
    ++m_portDrops.otherRoom;
}

void CReportListener::WriteSummary(Room& room, std::int64_t nowMs)
{
    const std::int64_t since = nowMs - room.writtenMs;
    if (room.written && since < kShortestWriteGapMs)
        return;
    const bool changed = room.table.TakeChanged();
    const bool due = room.table.Count() > 0 && since >= kLongestWriteGapMs;
    if (room.written && !changed && !due)
        return;
    // Run by hand the folder may not be there yet; the service's run-time
    // folder is, and each room's is made below it.
    ::mkdir(room.summaryFolder.c_str(), 0755);
    const int error = ReplaceWholeFile(room.summaryFolder + "/" + kSummaryName,
        RoomSummaryText(room.table, m_portDrops, nowMs, UnixSeconds(), m_version));
    const std::string problem = error == 0 ? std::string()
        : "cannot write the room view into " + room.summaryFolder + ": " + std::strerror(error);
    // Said once, not four times a second.
    if (problem != room.writeProblem)
        PrintLine(problem.empty() ? "room view written again into " + room.summaryFolder : problem);
    room.writeProblem = problem;
    room.written = true;
    room.writtenMs = nowMs;
}

} // namespace kestrel
