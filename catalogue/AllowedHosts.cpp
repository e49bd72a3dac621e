#include "catalogue/AllowedHosts.h"

#include "base/ConsoleLine.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr std::size_t kLongestDnsName = 253;
constexpr std::size_t kLongestLabel = 63;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLabelCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '-';
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
    if (IsDottedIPv4(host))
        return false;
    return std::any_of(m_hosts.begin(), m_hosts.end(), [host](const std::string& allowed) {
        return !IsDottedIPv4(allowed) && host.size() > allowed.size() + 1
            && host.compare(host.size() - allowed.size(), allowed.size(), allowed) == 0
            && host[host.size() - allowed.size() - 1] == '.';
    });
}

bool IsDottedIPv4(std::string_view host)
{
    int parts = 0;
    const bool numbers = EachPart(host, '.', [&parts](std::string_view part) {
        ++parts;
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), IsDigit))
            return false;
        // No leading zeros, which some read as octal.
        return (part.size() == 1 || part[0] != '0') && std::stoi(std::string(part)) <= 255;
    });
    return numbers && parts == 4;
}

bool IsLowerCaseDnsName(std::string_view host)
{
    if (host.empty() || host.size() > kLongestDnsName)
        return false;
    // A last label of digits would read as an address.
    const std::string_view last = host.substr(host.rfind('.') + 1);
    if (std::all_of(last.begin(), last.end(), IsDigit))
        return false;
    return EachPart(host, '.', [](std::string_view label) {
        return !label.empty() && label.size() <= kLongestLabel && label.front() != '-' && label.back() != '-'
            && std::all_of(label.begin(), label.end(), IsLabelCharacter);
    });
}

std::vector<std::string> ReadExtraHosts(std::string_view text)
{
    std::vector<std::string> hosts;
    if (text.empty())
        return hosts;
    EachPart(text, ' ', [&hosts](std::string_view entry) {
        if (IsDottedIPv4(entry) || IsLowerCaseDnsName(entry))
            hosts.emplace_back(entry);
        else
            PrintLine("Extra allowed host skipped, neither a lower-case DNS name nor a dotted IPv4 address: \""
                      + std::string(entry) + "\"");
        return true;
    });
    return hosts;
}

} // namespace kestrel
