#pragma once

#include "base/ClassroomState.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/SignedLinkRecordFrame.h"
#include "tools/AnnounceCounter.h"
#include "tools/AnnouncedRecords.h"

#include <netinet/in.h>
#include <string>

namespace kestrel {

// Sends link records to the browsers: one frame per datagram, from a UDP
// socket that may broadcast or send to a multicast group, signed when a key
// is given. Each round starts with the classroom state, then the home
// record, then the links in order, so a browser learns the list before the
// records it names. Signed frames and states are bound to the port.
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

    // Sends the state and every record. False, with `error` naming the
    // first failed send, when a datagram could not be sent; the others are
    // still tried.
    bool Broadcast(const ClassroomState& state, const AnnouncedRecords& records, std::string& error);

private:
    bool SetMulticastRoute(in_addr card, int ttl);
    bool NextCounter(std::uint64_t& counter, std::string& error);
    // Sends one record's frame; false when a counter could not be had.
    bool SendRecord(const LinkRecord& record, bool& allSent, std::string& error);
    void Send(const unsigned char* frame, std::size_t size, bool& allSent, std::string& error);

    int m_socket = -1;
    sockaddr_in m_destination = {};
    const SigningKey* m_key = nullptr;
    CAnnounceCounter* m_counter = nullptr;
    unsigned char m_frame[kLinkRecordFrameSize] = {};
    unsigned char m_signedFrame[kSignedLinkRecordFrameSize] = {};
    unsigned char m_stateFrame[kClassroomStateFrameSize] = {};
};

} // namespace kestrel
