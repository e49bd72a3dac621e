#pragma once

#include "channel/SignedLinkRecordFrame.h"
#include "tools/AnnounceCounter.h"
#include "tools/AnnouncedRecords.h"

#include <netinet/in.h>
#include <string>

namespace kestrel {

// Sends link records to the browsers: one link-record frame per datagram,
// from a UDP socket that may broadcast or send to a multicast group, signed
// when a key is given.
class CRecordBroadcaster {
public:
    CRecordBroadcaster() = default;
    ~CRecordBroadcaster();
    CRecordBroadcaster(const CRecordBroadcaster&) = delete;
    CRecordBroadcaster& operator=(const CRecordBroadcaster&) = delete;

    // from: local address or interface to send from, empty for any.
    // toAddress: dotted-quad destination, often a broadcast address; for a
    // multicast group, ttl is the datagrams' hop limit and `from` the card
    // they leave by.
    bool Open(const std::string& from, const std::string& toAddress, int port, int ttl, std::string& error);

    // Signs every frame from now on with `key`, each with the next counter
    // of `counter`; both must outlive the broadcaster.
    void SignWith(const SigningKey& key, CAnnounceCounter& counter)
    {
        m_key = &key;
        m_counter = &counter;
    }

    // Sends every record. False, with `error` naming the first failed send,
    // when a datagram could not be sent; the others are still tried.
    bool Broadcast(const AnnouncedRecords& records, std::string& error);

private:
    bool SetMulticastRoute(in_addr card, int ttl);

    int m_socket = -1;
    sockaddr_in m_destination = {};
    const SigningKey* m_key = nullptr;
    CAnnounceCounter* m_counter = nullptr;
    unsigned char m_frame[kLinkRecordFrameSize] = {};
    unsigned char m_signedFrame[kSignedLinkRecordFrameSize] = {};
};

} // namespace kestrel
