#pragma once

#include "base/ClassroomState.h"
#include "tools/ReportSubnets.h"
#include "tools/RoomTable.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace kestrel {

struct AnnounceOptions;

// A room whose screens report: its channel port, which each report names,
// and the folder its summary goes into.
struct ReportedRoom {
    std::uint16_t port = 0;
    std::string summaryFolder;
};

// The announcer's ear for the screens' reports: a thread reads them from the
// one report port every room shares, in batches, into the table of the room
// whose channel port they name, and writes each room's summary into its
// folder whenever something changed, at most four times a second (and once
// a second while machines are known, so that the time since each was heard
// goes on).
class CReportListener {
public:
    static constexpr int kBatchSize = 64;
    // Larger than a report: a longer datagram is seen as cut and dropped.
    static constexpr std::size_t kDatagramReadSize = 512;
    // A room of a thousand screens answering a publish within a second,
    // with room to spare; the system grants at most net.core.rmem_max.
    static constexpr int kReceiveBufferBytes = 4 << 20;
    static constexpr std::int64_t kShortestWriteGapMs = 250;
    // The table's walk for due, offline and forgotten machines, not after
    // every datagram: a report that waits for its second waits this longer.
    static constexpr std::int64_t kTickEveryMs = 100;
    static constexpr std::int64_t kLongestWriteGapMs = 1000;
    static constexpr const char* kSummaryName = "room.json";

    // Reports on options.reportPort, from options.reportFrom beside the
    // cards' subnets; `version` is the announcer's own.
    CReportListener(const AnnounceOptions& options, const std::vector<ReportedRoom>& rooms, std::string version);
    ~CReportListener();
    CReportListener(const CReportListener&) = delete;
    CReportListener& operator=(const CReportListener&) = delete;

    // Binds the report port on every card. False, with `error` saying why,
    // when it cannot (another announcer holds it).
    bool Open(std::string& error);
    // What IT staff read in the journal: where reports are taken from, and
    // the receive buffer the system granted.
    std::string Describe() const;
    // Starts the thread; the destructor ends it.
    void Start();
    // The digest of the state now on the air in the room-th room of the
    // constructor's list (any thread).
    void SetOnAir(std::size_t room, const CatalogueDigest& digest);

private:
    struct Room {
        Room(const ReportedRoom& reported, std::uint32_t validForSeconds, CReportSubnets& subnets, int capacity)
            : summaryFolder(reported.summaryFolder), table(reported.port, validForSeconds, subnets, capacity)
        {
        }
        std::string summaryFolder;
        CRoomTable table;
        // Under m_onAirLock: set by the announcing thread, taken by this one.
        std::optional<CatalogueDigest> onAir;
        std::int64_t writtenMs = 0;
        bool written = false;
        std::string writeProblem;
    };

    void Run();
    void ReadBatches(std::int64_t nowMs);
    // Hands one datagram to its room's table, or counts why none takes it.
    void Dispatch(std::uint32_t address, const unsigned char* datagram, std::size_t size, std::int64_t nowMs);
    void WriteSummary(Room& room, std::int64_t nowMs);

    std::uint16_t m_reportPort;
    std::string m_version;
    CReportSubnets m_subnets;
    std::vector<std::unique_ptr<Room>> m_rooms;
    // What no room could be told about.
    RoomDrops m_portDrops;
    int m_socket = -1;
    int m_wake = -1;
    int m_grantedBuffer = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::mutex m_onAirLock;
    std::int64_t m_tickedMs = 0;
    // One batch of datagrams, made once.
    mmsghdr m_messages[kBatchSize] = {};
    iovec m_parts[kBatchSize] = {};
    sockaddr_in m_senders[kBatchSize] = {};
    unsigned char m_datagrams[kBatchSize][kDatagramReadSize] = {};
};

} // namespace kestrel
