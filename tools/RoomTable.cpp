#include "tools/RoomTable.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

bool SameText(const char* a, const char* b, std::size_t size)
{
    return std::strncmp(a, b, size) == 0;
}

// What a summary shows of a report: its counter and uptime are left out,
// so that a screen that goes on showing the same is no change.
bool SameOnScreen(const ScreenReport& a, const ScreenReport& b)
{
    return a.mode == b.mode && a.flags == b.flags && a.digest == b.digest
        && SameText(a.machine, b.machine, sizeof a.machine) && SameText(a.login, b.login, sizeof a.login)
        && SameText(a.pageHost, b.pageHost, sizeof a.pageHost) && SameText(a.version, b.version, sizeof a.version);
}

} // namespace

bool ReadAdmittedReport(CReportSubnets& subnets, std::uint32_t address, const unsigned char* datagram,
    std::size_t size, std::int64_t nowMs, ScreenReport& report, RoomDrops& drops)
{
    if (!subnets.Holds(address, nowMs)) {
        ++drops.outside;
        return false;
    }
    if (ReadReportFrame(datagram, size, report) != ReportFault::None) {
        ++drops.malformed;
        return false;
    }
    return true;
}

CRoomTable::CRoomTable(std::uint16_t port, std::uint32_t validForSeconds, CReportSubnets& subnets, int capacity)
    : m_port(port)
    , m_offlineAfterMs(static_cast<std::int64_t>(validForSeconds) * 1000 / 2 * kPeriodsToOffline)
    , m_subnets(subnets)
    , m_slots(static_cast<std::size_t>(capacity))
{
    m_order.reserve(m_slots.size());
    m_free.reserve(m_slots.size());
    for (int slot = capacity - 1; slot >= 0; --slot)
        m_free.push_back(static_cast<std::uint16_t>(slot));
}

void CRoomTable::SetOnAir(const CatalogueDigest& digest)
{
    m_changed = m_changed || m_onAir != digest;
    m_onAir = digest;
}

bool CRoomTable::Applied(const RoomMachine& machine) const
{
    return !machine.offline && (machine.report.flags & kReportComplete) != 0 && m_onAir == machine.report.digest;
}

int CRoomTable::Find(std::uint32_t address) const
{
    const auto at = std::lower_bound(m_order.begin(), m_order.end(), address,
        [this](std::uint16_t slot, std::uint32_t wanted) { return m_slots[slot].address < wanted; });
    return static_cast<int>(at - m_order.begin());
}

void CRoomTable::Take(std::uint32_t address, const unsigned char* datagram, std::size_t size, std::int64_t nowMs)
{
    ScreenReport report;
    if (!ReadAdmittedReport(m_subnets, address, datagram, size, nowMs, report, m_drops))
        return;
    if (report.channelPort != m_port) {
        ++m_drops.otherRoom;
        return;
    }
    TakeReport(address, report, nowMs);
}

void CRoomTable::TakeReport(std::uint32_t address, const ScreenReport& report, std::int64_t nowMs)
{
    const int position = Find(address);
    if (position < Count() && Machine(position).address == address) {
        RoomMachine& machine = m_slots[m_order[position]];
        if (nowMs - machine.takenMs >= kShortestGapMs) {
            machine.waiting = false;
            Show(machine, report, nowMs, nowMs);
            return;
        }
        // The report it replaces is the one dropped.
        m_drops.tooOften += machine.waiting ? 1 : 0;
        machine.waiting = true;
        machine.waitingSinceMs = nowMs;
        machine.waitingReport = report;
        return;
    }
    if (m_free.empty()) {
        ++m_drops.full;
        return;
    }
    const std::uint16_t slot = m_free.back();
    m_free.pop_back();
    m_order.insert(m_order.begin() + position, slot);
    RoomMachine& machine = m_slots[slot];
    machine = RoomMachine();
    machine.address = address;
    Show(machine, report, nowMs, nowMs);
    m_changed = true;
}

void CRoomTable::Show(RoomMachine& machine, const ScreenReport& report, std::int64_t heardMs, std::int64_t nowMs)
{
    m_changed = m_changed || machine.offline || !SameOnScreen(machine.report, report);
    machine.report = report;
    machine.heardMs = heardMs;
    machine.takenMs = nowMs;
    machine.offline = false;
}

void CRoomTable::Tick(std::int64_t nowMs)
{
    for (int position = Count() - 1; position >= 0; --position) {
        RoomMachine& machine = m_slots[m_order[position]];
        if (machine.waiting && nowMs - machine.takenMs >= kShortestGapMs) {
            machine.waiting = false;
            Show(machine, machine.waitingReport, machine.waitingSinceMs, nowMs);
        }
        const std::int64_t quiet = nowMs - machine.heardMs;
        if (quiet >= kForgetAfterMs) {
            m_free.push_back(m_order[position]);
            m_order.erase(m_order.begin() + position);
            m_changed = true;
        } else if (!machine.offline && quiet >= m_offlineAfterMs) {
            machine.offline = true;
            m_changed = true;
        }
    }
}

bool CRoomTable::TakeChanged()
{
    const bool changed = m_changed;
    m_changed = false;
    return changed;
}

} // namespace kestrel
