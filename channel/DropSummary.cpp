#include "channel/DropSummary.h"

#include "base/ConsoleLine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>

namespace kestrel {

void CDropSummary::Count(DropReason reason, std::uint32_t source)
{
    ++m_total;
    ++m_byReason[static_cast<int>(reason)];
    for (int i = 0; i < m_sourceCount; ++i) {
        if (m_sources[i] == source)
            return;
    }
    if (m_sourceCount < kListedSources)
        m_sources[m_sourceCount++] = source;
    else
        ++m_fromOtherSources;
}

std::string CDropSummary::Text() const
{
    std::string line = "Dropped " + std::to_string(m_total) + (m_total == 1 ? " announcement" : " announcements")
        + " without a valid signature:";
    const char* separator = " ";
    for (int reason = 0; reason < kDropReasonCount; ++reason) {
        if (m_byReason[reason] == 0)
            continue;
        line += separator + std::to_string(m_byReason[reason]) + " " + DropReasonText(static_cast<DropReason>(reason));
        separator = ", ";
    }
    line += "; from";
    separator = " ";
    for (int i = 0; i < m_sourceCount; ++i) {
        in_addr address{};
        address.s_addr = m_sources[i];
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address, text, sizeof text);
        line += separator;
        line += text;
        separator = ", ";
    }
    if (m_fromOtherSources > 0)
        line += " and " + std::to_string(m_fromOtherSources) + " frames from other addresses";
    return line;
}

void CDropSummary::ReportIfDue(std::int64_t nowMs)
{
    if (m_total == 0 || (m_reported && nowMs - m_lastReportMs < kReportIntervalMs))
        return;
    PrintLine(Text());
    *this = CDropSummary{};
    m_reported = true;
    m_lastReportMs = nowMs;
}

} // namespace kestrel
