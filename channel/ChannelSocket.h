#pragma once

#include "channel/FrameFinder.h"
#include "channel/FrameView.h"
#include "channel/SocketOwner.h"

#include <cstddef>
#include <cstdint>

namespace kestrel {

// The program's one network listener: a UDP socket on the main channel port
// whose datagrams form one byte stream, cut into checked frames that go to
// OnFrame. Driven entirely from the window's thread; nothing is ever sent.
class CChannelSocket {
public:
    // Event bit of OnSocketNotify's second argument: a datagram waits.
    static constexpr std::uint32_t kReadEvent = 1;
    static constexpr std::size_t kDatagramReadSize = 8192;
    static constexpr int kSendBufferSize = 16384;

    CChannelSocket() = default;
    CChannelSocket(const CChannelSocket&) = delete;
    CChannelSocket& operator=(const CChannelSocket&) = delete;
    // Closes a socket still open, without calling the owner, which may be
    // gone by then.
    virtual ~CChannelSocket();

    // Binds a broadcast-capable UDP socket to the dotted-quad bindAddress
    // (empty or null: any local address) and the low 16 bits of port, and
    // asks the owner to watch it. A failure prints its line on standard
    // output and leaves no socket open.
    bool Open(const char* bindAddress, long port, CSocketOwner* owner);
    // Closes the socket if one is open.
    void Close();
    // The open socket, or -1.
    int SocketHandle() const { return m_socket; }

    // The owner's readiness call: socketParam is the socket, eventParam
    // holds the events in its low 16 bits and an error code in its high 16.
    // Reads one datagram per call.
    void OnSocketNotify(std::uintptr_t socketParam, std::uint32_t eventParam);

    // Takes received bytes into the stream and hands on every frame they
    // complete.
    void Feed(const unsigned char* bytes, std::size_t count);

protected:
    // One whole checked frame, lent for the length of the call; the payload
    // may be changed in place.
    virtual void OnFrame(FrameView frame) = 0;
    // Whether reads learn who sent each datagram; off unless asked for.
    void KeepDatagramSources(bool keep) { m_keepSources = keep; }
    // The IPv4 address (network order) of the datagram that completed the
    // frame OnFrame is given; 0 for bytes handed to Feed, or when sources
    // are not kept.
    std::uint32_t DatagramSource() const { return m_datagramSource; }

private:
    auto FrameHandler()
    {
        return [this](FrameView frame) { OnFrame(frame); };
    }

    int m_socket = -1;
    CSocketOwner* m_pOwner = nullptr;
    bool m_keepSources = false;
    std::uint32_t m_datagramSource = 0;
    CFrameFinder m_frames;
};

} // namespace kestrel
