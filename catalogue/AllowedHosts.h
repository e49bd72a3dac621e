#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The hosts whose pages a "lesson only" classroom may open: a host counts
// when it equals one of them or ends in "." and one, so that a listed site
// brings its own subdomains. Dotted IPv4 addresses only ever match exactly.
class CAllowedHosts {
public:
    // Hosts as addresses carry them, in lower case; an empty one adds nothing.
    void Add(std::string host);
    bool Allows(std::string_view host) const;

    bool operator==(const CAllowedHosts& other) const { return m_hosts == other.m_hosts; }
    bool operator!=(const CAllowedHosts& other) const { return !(*this == other); }

private:
    std::set<std::string> m_hosts;
};

// The extra hosts a state names, single spaces between them. An entry that
// is neither a lower-case DNS name nor a dotted IPv4 address is skipped,
// with one line saying so.
std::vector<std::string> ReadExtraHosts(std::string_view text);

} // namespace kestrel
