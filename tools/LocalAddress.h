#pragma once

#include <netinet/in.h>
#include <string>

namespace kestrel {

// The local IPv4 address named by `from`: dotted-quad text as it is, or the
// first IPv4 address of the network interface of that name (eth0, enp3s0).
// Empty text gives the any-address. False, with `error` set, otherwise.
bool ResolveLocalAddress(const std::string& from, in_addr& address, std::string& error);

} // namespace kestrel
