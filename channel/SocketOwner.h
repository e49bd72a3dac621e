#pragma once

namespace kestrel {

// The window that tells the channel socket when a datagram waits. It watches
// the socket for reading and then calls OnSocketNotify(socket, 1) on its own
// thread, once per readiness.
class CSocketOwner {
public:
    virtual ~CSocketOwner() = default;
    virtual void WatchSocket(int socket) = 0;
    virtual void UnwatchSocket(int socket) = 0;
};

} // namespace kestrel
