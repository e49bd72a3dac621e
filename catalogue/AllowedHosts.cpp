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

// Calls `part` with each piece of `text` between separators; false as soon as one call is.
template <typename Part>
bool EachPart(std::string_view text, char separator, Part part)
{
    for (;;) {
        const std::size_t end = text.find(separator);
        if (!part(text.substr(0, end)))
            return false;
        if (end == std::string_view::npos)
            return true;
        text.remove_prefix(end + 1);
    }
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
    if (text.empty())
        return hosts;
    EachPart(text, ' ', [&hosts](std::string_view entry) {
        if (IsAllowedHostEntry(entry))
            hosts.emplace_back(entry);
        else
            PrintLine("Extra allowed host skipped, neither a lower-case DNS name nor a dotted IPv4 address: \""
                      + std::string(entry) + "\"");
        return true;
    });
    return hosts;
}

} // namespace kestrel
