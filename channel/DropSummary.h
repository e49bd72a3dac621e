#pragma once

#include "channel/AnnouncementVerifier.h"

#include <cstdint>

namespace kestrel {

// Counts the link-record frames dropped for want of a valid signature and
// says so on standard output at most once a minute: how many, why, and the
// addresses of the datagrams that completed them (eight, then a count).
// Never a line per frame, and nothing allocated per frame.
class CDropSummary {
public:
    static constexpr std::int64_t kReportIntervalMs = 60000;
    static constexpr int kListedSources = 8;

    void Count(DropReason reason, std::uint32_t source);
    // Prints the summary of what was counted when a minute has passed since
    // the last one (the first at once), and starts counting afresh.
    void ReportIfDue(std::int64_t nowMs);
    // The summary line of what is counted so far.
    std::string Text() const;

private:
    long m_total = 0;
    long m_byReason[kDropReasonCount] = {};
    std::uint32_t m_sources[kListedSources] = {};
    int m_sourceCount = 0;
    long m_fromOtherSources = 0;
    bool m_reported = false;
    std::int64_t m_lastReportMs = 0;
};

} // namespace kestrel
