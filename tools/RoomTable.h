#pragma once

#include "channel/ReportFrame.h"
#include "tools/ReportSubnets.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel {

// One machine of a room as its reports tell.
struct RoomMachine {
    // IPv4, host order: cloned machines with one host name stay apart.
    std::uint32_t address = 0;
    ScreenReport report;
    // When the report shown arrived, and when it was taken (steady clock).
    std::int64_t heardMs = 0;
    std::int64_t takenMs = 0;
    bool offline = false;
    // A report that came within a second of the last one taken waits for
    // that second to pass, unless a newer one takes its place: a screen's
    // change right after its periodic report is shown a moment late, never
    // lost.
    bool waiting = false;
    std::int64_t waitingSinceMs = 0;
    ScreenReport waitingReport;
};

// The datagrams a room did not take, by reason.
struct RoomDrops {
    std::uint64_t malformed = 0; // bad length, check value, magic or field
    std::uint64_t tooOften = 0;  // more than one a second from one address
    std::uint64_t outside = 0;   // from an address in no subnet reports are taken from
    std::uint64_t full = 0;      // a new machine while the table is full
    std::uint64_t otherRoom = 0; // a browser listening on another channel port
};

// Reads one datagram from `address` (host order) as a report, when the
// address is in a subnet reports are taken from and the datagram is well
// formed; otherwise counts it in `drops` (outside, malformed) and returns
// false. A stranger's bytes are not even read.
bool ReadAdmittedReport(CReportSubnets& subnets, std::uint32_t address, const unsigned char* datagram,
    std::size_t size, std::int64_t nowMs, ScreenReport& report, RoomDrops& drops);

// The machines of one room (one channel port), as many as a school may
// have, in a table of fixed size made once: taking a report never
// allocates. Reports are not authenticated, so what the table holds is
// information for the teacher, never a reason to act.
class CRoomTable {
public:
    static constexpr int kCapacity = 4096;
    // Each room's, when one announcer serves several: a room is a class or
    // a lab, and thirty rooms of 4096 slots would hold 66 MB.
    static constexpr int kCapacityOfOneOfSeveral = 1024;
    static constexpr std::int64_t kShortestGapMs = 1000;
    // A browser reports every half valid-for; three missed in a row is off.
    static constexpr int kPeriodsToOffline = 3;
    static constexpr std::int64_t kForgetAfterMs = 3600 * 1000;

    // port: the room's channel port; validForSeconds: the announcer's;
    // capacity: the machines it holds, at most kCapacity.
    CRoomTable(std::uint16_t port, std::uint32_t validForSeconds, CReportSubnets& subnets, int capacity = kCapacity);

    // The digest of the state on the air, that applied screens show.
    void SetOnAir(const CatalogueDigest& digest);
    // One datagram from `address` (host order); nowMs on a steady clock.
    void Take(std::uint32_t address, const unsigned char* datagram, std::size_t size, std::int64_t nowMs);
    // A report already read, from an address reports are taken from, that
    // names this room's port: what a listener for several rooms hands on.
    void TakeReport(std::uint32_t address, const ScreenReport& report, std::int64_t nowMs);
    // Takes the waiting reports whose second is up, marks the machines not
    // heard for three periods offline and forgets those not heard for an
    // hour.
    void Tick(std::int64_t nowMs);
    // True once after what a summary shows changed: a machine, its screen,
    // its going offline, the state on the air.
    bool TakeChanged();

    std::uint16_t Port() const { return m_port; }
    const std::optional<CatalogueDigest>& OnAir() const { return m_onAir; }
    const RoomDrops& Drops() const { return m_drops; }
    int Count() const { return static_cast<int>(m_order.size()); }
    // The machines in address order, 0 to Count() - 1.
    const RoomMachine& Machine(int position) const { return m_slots[m_order[position]]; }
    // Shows every listed link of the state on the air, and is heard.
    bool Applied(const RoomMachine& machine) const;

private:
    // The position of `address` in m_order, or where it would go.
    int Find(std::uint32_t address) const;
    void Show(RoomMachine& machine, const ScreenReport& report, std::int64_t heardMs, std::int64_t nowMs);

    std::uint16_t m_port;
    std::int64_t m_offlineAfterMs;
    CReportSubnets& m_subnets;
    std::optional<CatalogueDigest> m_onAir;
    RoomDrops m_drops;
    bool m_changed = true;
    // Slots made once; m_order holds the used ones by address, m_free the
    // rest, both within a capacity reserved for all.
    std::vector<RoomMachine> m_slots;
    std::vector<std::uint16_t> m_order;
    std::vector<std::uint16_t> m_free;
};

} // namespace kestrel
