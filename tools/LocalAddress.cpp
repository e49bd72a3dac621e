#include "tools/LocalAddress.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>

namespace kestrel {

bool ResolveLocalAddress(const std::string& from, in_addr& address, std::string& error)
{
    address.s_addr = htonl(INADDR_ANY);
    if (from.empty() || inet_pton(AF_INET, from.c_str(), &address) == 1)
        return true;

    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
        return false;
    }
    bool found = false;
    for (const ifaddrs* entry = interfaces; entry && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET && from == entry->ifa_name) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            found = true;
        }
    }
    freeifaddrs(interfaces);
    if (!found)
        error = "\"" + from + "\" is neither an IPv4 address nor a network interface with an IPv4 address";
    return found;
}

} // namespace kestrel
