#include "tools/LocalAddress.h"

#include "channel/NetworkCards.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrel {

bool ResolveLocalAddress(const std::string& from, in_addr& address, std::string& error)
{
    address.s_addr = htonl(INADDR_ANY);
    if (from.empty() || inet_pton(AF_INET, from.c_str(), &address) == 1)
        return true;

    std::vector<CardAddress> cards;
    if (!ListCardAddresses(cards)) {
        error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
        return false;
    }
    for (const CardAddress& card : cards) {
        if (card.card == from) {
            address = card.address;
            return true;
        }
    }
    error = "\"" + from + "\" is neither an IPv4 address nor a network interface with an IPv4 address";
    return false;
}

} // namespace kestrel
