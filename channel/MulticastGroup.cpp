#include "channel/MulticastGroup.h"

#include <arpa/inet.h>
#include <sys/socket.h>

namespace kestrel {

bool ReadMulticastGroup(const std::string& text, in_addr& group)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1 || !IN_MULTICAST(ntohl(address.s_addr)))
        return false;
    group = address;
    return true;
}

bool KeepOtherGroupsOut(int socket)
{
    const int off = 0;
    return setsockopt(socket, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) == 0;
}

bool JoinMulticastGroup(int socket, in_addr group, unsigned cardIndex)
{
    if (!KeepOtherGroupsOut(socket))
        return false;
    ip_mreqn membership{};
    membership.imr_multiaddr = group;
    membership.imr_address.s_addr = htonl(INADDR_ANY);
    membership.imr_ifindex = static_cast<int>(cardIndex);
    return setsockopt(socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0;
}

} // namespace kestrel
