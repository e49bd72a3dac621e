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

// The announcer's ear for the screens' reports: a thread reads them from the
// report port in batches into the room's table and writes the room's
// summary into the on-air folder whenever something changed, at most four
// times a second (and once a second while machines are known, so that the
// time since each was heard goes on).
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

    // The room on options.port, reports on options.reportPort, the summary
    // in options.onAirFolder; `version` is the announcer's own.
    CReportListener(const AnnounceOptions& options, std::string version);
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
    // The digest of the state now on the air (any thread).
    void SetOnAir(const CatalogueDigest& digest);

private:
    void Run();
    void ReadBatches(std::int64_t nowMs);
    void WriteSummary(std::int64_t nowMs);

    std::uint16_t m_reportPort;
    std::string m_summaryFolder;
    std::string m_version;
    CReportSubnets m_subnets;
    CRoomTable m_table;
    int m_socket = -1;
    int m_wake = -1;
    int m_grantedBuffer = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::mutex m_onAirLock;
    std::optional<CatalogueDigest> m_onAir;
    std::int64_t m_tickedMs = 0;
    std::int64_t m_writtenMs = 0;
    bool m_written = false;
    std::string m_writeProblem;
    // One batch of datagrams, made once.
    mmsghdr m_messages[kBatchSize] = {};
    iovec m_parts[kBatchSize] = {};
    sockaddr_in m_senders[kBatchSize] = {};
    unsigned char m_datagrams[kBatchSize][kDatagramReadSize] = {};
};

} // namespace kestrel
