#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// An IPv4 subnet, in host order.
struct Subnet {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;

    bool Holds(std::uint32_t address) const { return (address & mask) == network; }
    bool operator==(const Subnet& other) const { return network == other.network && mask == other.mask; }
};

// "10.1.0.0/16", or a lone address as "10.1.2.3" (its own /32); the bits
// below the mask are ignored. False for anything else.
bool ReadSubnet(std::string_view text, Subnet& subnet);
// "10.1.0.0/16" again.
std::string SubnetText(const Subnet& subnet);

// Where the announcer takes reports from: the subnets of its own cards and
// those IT staff named (--report-from). Pupils of a routed subnet are named;
// a stranger on the internet is in neither.
class CReportSubnets {
public:
    // A card's address comes later than the announcer when DHCP is slow:
    // the cards are listed again, at most this often, when an address is
    // in no known subnet.
    static constexpr std::int64_t kListCardsEveryMs = 10000;

    explicit CReportSubnets(std::vector<Subnet> named);

    // Whether reports from `address` (host order) are taken; nowMs on a
    // steady clock.
    bool Holds(std::uint32_t address, std::int64_t nowMs);
    // Every subnet known now, the cards' first.
    const std::vector<Subnet>& Known() const { return m_known; }

private:
    void ListCards(std::int64_t nowMs);

    std::vector<Subnet> m_named;
    std::vector<Subnet> m_known;
    std::int64_t m_listedMs = 0;
};

} // namespace kestrel
