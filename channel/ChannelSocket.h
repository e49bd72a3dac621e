#pragma once

#include "channel/FrameFinder.h"
#include "channel/FrameView.h"
#include "channel/SocketOwner.h"

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace kestrel {

// The program's one network listener: a UDP socket on the main channel port,
// optionally a member of one multicast group, whose datagrams form one byte
// stream, cut into checked frames that go to OnFrame. Driven entirely from
// the window's thread; nothing is ever sent.
class CChannelSocket {
public:
    // Event bit of OnSocketNotify's second argument: a datagram waits.
    static constexpr std::uint32_t kReadEvent = 1;
    static constexpr std::size_t kDatagramReadSize = 8192;
    static constexpr int kSendBufferSize = 16384;

    // How often the owner calls Retry while the channel IsWaiting.
    static constexpr int kRetryIntervalMs = 3000;

    CChannelSocket() = default;
    CChannelSocket(const CChannelSocket&) = delete;
    CChannelSocket& operator=(const CChannelSocket&) = delete;
    // Closes a socket still open, without calling the owner, which may be
    // gone by then.
    virtual ~CChannelSocket();

    // Opens a broadcast-capable UDP socket on the low 16 bits of port and
    // asks the owner to watch it. Empty or null bindAddress: the socket
    // hears every card. A dotted-quad bindAddress names the card that holds
    // it: the socket is bound to the any-address, since one bound to a
    // card's own address hears none of its subnet's broadcasts, and hears
    // only the datagrams that arrive on that card (or, for a subnet's
    // broadcast address, the card of that subnet). While no card holds the
    // address, Open prints the bind failure line (10049) and the channel
    // waits for it: see Retry. The limited broadcast and multicast
    // addresses name no card and are bound to as they always were.
    // A multicastGroup (empty or null: none) is joined on that card, or on
    // the card the system routes the group through; a text that is no IPv4
    // multicast group prints one line and is ignored, and a join the system
    // refuses (no address or route yet) waits for Retry.
    // Every other failure prints its line on standard output and leaves no
    // socket open and nothing to wait for.
    bool Open(const char* bindAddress, long port, CSocketOwner* owner, const char* multicastGroup = nullptr);
    // Closes the socket if one is open and stops any waiting.
    void Close();
    // The open socket, or -1.
    int SocketHandle() const { return m_socket; }
    // The port the open socket is bound to (the system's choice for port
    // 0); 0 without a socket.
    std::uint16_t ListeningPort() const;

    // True while the card of the bind address or the group's join is still
    // awaited.
    bool IsWaiting() const { return m_waitingForCard || m_joinPending; }
    // The owner's call every kRetryIntervalMs while IsWaiting, on the
    // window's thread: tries the awaited step again, silently, and prints
    // one line when it succeeds.
    void Retry();

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
    enum class Opening { Opened, NoCard, Failed };

    // Open's steps from the socket to the watch; `reportNoCard` is false
    // when Retry tries again.
    Opening OpenSocket(bool reportNoCard);
    bool TryJoin();

    auto FrameHandler()
    {
        return [this](FrameView frame) { OnFrame(frame); };
    }

    int m_socket = -1;
    CSocketOwner* m_pOwner = nullptr;
    // What Open was given, for Retry.
    long m_port = 0;
    std::string m_bindAddress;
    bool m_hasGroup = false;
    in_addr m_group{};
    // The card the bind address names, 0 for every card.
    unsigned m_cardIndex = 0;
    bool m_waitingForCard = false;
    bool m_joinPending = false;
    bool m_joinFailed = false;
    bool m_keepSources = false;
    std::uint32_t m_datagramSource = 0;
    CFrameFinder m_frames;
};

} // namespace kestrel
