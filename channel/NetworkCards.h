#pragma once

#include <netinet/in.h>
#include <string>
#include <vector>

namespace kestrel {

// One IPv4 address a network card holds now, with the card's name (eth0),
// its interface index (what IP_PKTINFO reports for a datagram's arrival),
// the subnet's mask and its broadcast address, when it has one.
struct CardAddress {
    std::string card;
    unsigned cardIndex = 0;
    in_addr address{};
    in_addr netmask{};
    in_addr broadcast{};
};

// Every IPv4 address of the machine's cards at this moment; false, with
// errno set, when the system cannot list them.
bool ListCardAddresses(std::vector<CardAddress>& addresses);

// The interface index of the card that holds `address` as its own, or
// failing that as its subnet's broadcast address; 0 when no card does.
unsigned CardIndexOfAddress(in_addr address);

// Makes a socket, before its bind, hear only the datagrams that arrive on
// the card with index `cardIndex`, and no multicast group it did not join
// itself. The system keeps to the card before a datagram is queued, so
// reads cost what they always did; a socket's first card needs no
// privilege. False, with errno set, when the system refuses.
bool HearOnlyCard(int socket, unsigned cardIndex);

} // namespace kestrel
