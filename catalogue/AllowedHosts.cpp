#include "catalogue/AllowedHosts.h"

#include "base/ClassroomState.h"
#include "base/ConsoleLine.h"

#include <algorithm>

namespace kestrel {

namespace {

// Dotted IPv4 addresses end in a number, and so does nothing else that
// an address can carry as its host.
bool IsAddress(std::string_view host)
{
    const std::string_view last = host.substr(host.rfind('.') + 1);
    return std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

void CAllowedHosts::Add(std::string host)
{
    if (!host.empty())
        m_hosts.insert(std::move(host));
}

bool CAllowedHosts::Allows(std::string_view host) const
{
    if (host.empty())
        return false;
    if (m_hosts.count(std::string(host)))
        return true;
    if (IsAddress(host))
        return false;
    return std::any_of(m_hosts.begin(), m_hosts.end(), [host](const std::string& allowed) {
        return !IsAddress(allowed) && host.size() > allowed.size() + 1
            && host.compare(host.size() - allowed.size(), allowed.size(), allowed) == 0
            && host[host.size() - allowed.size() - 1] == '.';
    });
}

std::vector<std::string> ReadExtraHosts(std::string_view text)
{
    std::vector<std::string> hosts;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        const std::string_view entry = text.substr(0, end);
        if (IsAllowedHostEntry(entry))
            hosts.emplace_back(entry);
        else
            PrintLine("Extra allowed host skipped, neither a lower-case DNS name nor a dotted IPv4 address: \""
                      + std::string(entry) + "\"");
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return hosts;
}

} // namespace kestrel
