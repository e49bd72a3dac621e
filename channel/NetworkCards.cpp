#include "channel/NetworkCards.h"

#include "channel/MulticastGroup.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace kestrel {

namespace {

in_addr Ipv4Of(const sockaddr* address)
{
    if (address == nullptr || address->sa_family != AF_INET)
        return in_addr{};
    return reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
}

// An address label such as "eth0:1" names the card before the colon.
unsigned IndexOfCardNamed(const std::string& label)
{
    return if_nametoindex(label.substr(0, label.find(':')).c_str());
}

} // namespace

bool ListCardAddresses(std::vector<CardAddress>& addresses)
{
    addresses.clear();
    ifaddrs* entries = nullptr;
    if (getifaddrs(&entries) != 0)
        return false;
    for (const ifaddrs* entry = entries; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        CardAddress card;
        card.card = entry->ifa_name;
        card.cardIndex = IndexOfCardNamed(card.card);
        card.address = Ipv4Of(entry->ifa_addr);
        card.netmask = Ipv4Of(entry->ifa_netmask);
        if ((entry->ifa_flags & IFF_BROADCAST) != 0)
            card.broadcast = Ipv4Of(entry->ifa_broadaddr);
        addresses.push_back(card);
    }
    freeifaddrs(entries);
    return true;
}

unsigned CardIndexOfAddress(in_addr address)
{
    std::vector<CardAddress> cards;
    if (!ListCardAddresses(cards))
        return 0;
    for (const CardAddress& card : cards) {
        if (card.address.s_addr == address.s_addr)
            return card.cardIndex;
    }
    // A broadcast address in the settings has always heard that subnet's
    // broadcasts; it still names the card that holds the subnet.
    for (const CardAddress& card : cards) {
        if (card.broadcast.s_addr != 0 && card.broadcast.s_addr == address.s_addr)
            return card.cardIndex;
    }
    return 0;
}

bool HearOnlyCard(int socket, unsigned cardIndex)
{
    const int index = static_cast<int>(cardIndex);
    return setsockopt(socket, SOL_SOCKET, SO_BINDTOIFINDEX, &index, sizeof index) == 0 && KeepOtherGroupsOut(socket);
}

} // namespace kestrel
