#pragma once

#include <netinet/in.h>
#include <string>

namespace kestrel {

// Multicast membership shared by the browser's channel and the announcer's
// listener.

// A dotted-quad IPv4 multicast group, 224.0.0.0 to 239.255.255.255; false
// for any other text.
bool ReadMulticastGroup(const std::string& text, in_addr& group);

// Turns IP_MULTICAST_ALL off: a socket bound to the any-address then hears
// only the groups it joined itself, not those other sockets of the machine
// joined. False, with errno set, when the system refuses.
bool KeepOtherGroupsOut(int socket);

// Makes the socket a member of `group` on the card with interface index
// `cardIndex` (0: the card the system routes the group through), other
// groups kept out. False, with errno set, when the system refuses, for instance
// while no card has an address or a route for the group yet.
bool JoinMulticastGroup(int socket, in_addr group, unsigned cardIndex);

} // namespace kestrel
