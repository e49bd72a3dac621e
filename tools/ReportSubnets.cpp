#include "tools/ReportSubnets.h"

#include "channel/NetworkCards.h"
#include "tools/WholeNumber.h"

#include <algorithm>
#include <arpa/inet.h>

namespace kestrel {

namespace {

std::uint32_t MaskOfLength(long length)
{
    return length == 0 ? 0 : ~std::uint32_t{0} << (32 - length);
}

} // namespace

bool ReadSubnet(std::string_view text, Subnet& subnet)
{
    const std::size_t slash = text.find('/');
    long length = 32;
    if (slash != std::string_view::npos && !ReadWholeNumber(text.substr(slash + 1), 0, 32, length))
        return false;
    in_addr address;
    if (inet_pton(AF_INET, std::string(text.substr(0, slash)).c_str(), &address) != 1)
        return false;
    subnet.mask = MaskOfLength(length);
    subnet.network = ntohl(address.s_addr) & subnet.mask;
    return true;
}

std::string SubnetText(const Subnet& subnet)
{
    in_addr address;
    address.s_addr = htonl(subnet.network);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    int length = 0;
    for (std::uint32_t mask = subnet.mask; mask != 0; mask <<= 1)
        ++length;
    return std::string(text) + "/" + std::to_string(length);
}

CReportSubnets::CReportSubnets(std::vector<Subnet> named) : m_named(std::move(named))
{
    ListCards(0);
}

bool CReportSubnets::Holds(std::uint32_t address, std::int64_t nowMs)
{
    const auto holds = [&] {
        return std::any_of(m_known.begin(), m_known.end(), [&](const Subnet& subnet) { return subnet.Holds(address); });
    };
    if (holds())
        return true;
    if (nowMs - m_listedMs < kListCardsEveryMs)
        return false;
    ListCards(nowMs);
    return holds();
}

void CReportSubnets::ListCards(std::int64_t nowMs)
{
    m_listedMs = nowMs;
    std::vector<CardAddress> cards;
    // A machine whose cards cannot be listed still hears the subnets named.
    ListCardAddresses(cards);
    m_known.clear();
    for (const CardAddress& card : cards) {
        const std::uint32_t mask = ntohl(card.netmask.s_addr);
        const Subnet subnet{ntohl(card.address.s_addr) & mask, mask};
        // A card without a mask would let the whole internet in.
        if (mask != 0 && std::find(m_known.begin(), m_known.end(), subnet) == m_known.end())
            m_known.push_back(subnet);
    }
    m_known.insert(m_known.end(), m_named.begin(), m_named.end());
}

} // namespace kestrel
