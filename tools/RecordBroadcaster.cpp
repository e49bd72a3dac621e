#include "tools/RecordBroadcaster.h"

#include "channel/LinkRecordFrame.h"
#include "tools/LocalAddress.h"

#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr unsigned char kMarker = 0;

std::uint64_t WallClockMilliseconds()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count());
}

} // namespace

CRecordBroadcaster::~CRecordBroadcaster()
{
    if (m_socket >= 0)
        close(m_socket);
}

bool CRecordBroadcaster::Open(const std::string& from, const std::string& toAddress, int port, int ttl,
                              std::string& error)
{
    sockaddr_in source = {};
    source.sin_family = AF_INET;
    if (!ResolveLocalAddress(from, source.sin_addr, error))
        return false;
    m_destination.sin_family = AF_INET;
    m_destination.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, toAddress.c_str(), &m_destination.sin_addr) != 1) {
        error = "\"" + toAddress + "\" is not an IPv4 address";
        return false;
    }

    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int allowBroadcast = 1;
    if (m_socket < 0
        || setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &allowBroadcast, sizeof allowBroadcast) != 0) {
        error = std::string("cannot make a broadcast socket: ") + std::strerror(errno);
        return false;
    }
    // With a source address bound, the system sends a limited broadcast out
    // of the interface that owns that address.
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
        error = "cannot send from " + (from.empty() ? std::string("any address") : from) + ": " + std::strerror(errno);
        return false;
    }
    if (IN_MULTICAST(ntohl(m_destination.sin_addr.s_addr)) && !SetMulticastRoute(source.sin_addr, ttl)) {
        error = "cannot send to the group " + toAddress + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CRecordBroadcaster::SetMulticastRoute(in_addr card, int ttl)
{
    const unsigned char hops = static_cast<unsigned char>(ttl);
    // Without a card of its own choosing, the system sends a group where
    // its routes say.
    return setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops) == 0
        && (card.s_addr == htonl(INADDR_ANY) || setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_IF, &card, sizeof card) == 0);
}

bool CRecordBroadcaster::NextCounter(std::uint64_t& counter, std::string& error)
{
    return m_counter->Next(WallClockMilliseconds(), counter, error);
}

bool CRecordBroadcaster::Broadcast(const ClassroomState& state, const AnnouncedRecords& records, std::string& error)
{
    bool allSent = true;
    const std::uint16_t port = ntohs(m_destination.sin_port);
    std::uint64_t counter = 0;
    if (m_key != nullptr && !NextCounter(counter, error))
        return false;
    const std::size_t stateSize = EncodeClassroomStateFrame(state, port, m_key, counter, m_stateFrame);
    Send(m_stateFrame, stateSize, allSent, error);
    for (int i = 0; i < records.count; ++i) {
        if (IsHomeRecord(records.records[i]) && !SendRecord(records.records[i], allSent, error))
            return false;
    }
    for (int i = 0; i < records.count; ++i) {
        if (!IsHomeRecord(records.records[i]) && !SendRecord(records.records[i], allSent, error))
            return false;
    }
    return allSent;
}

bool CRecordBroadcaster::SendRecord(const LinkRecord& record, bool& allSent, std::string& error)
{
    if (m_key == nullptr) {
        EncodeLinkRecordFrame(record, kMarker, m_frame);
        Send(m_frame, sizeof m_frame, allSent, error);
        return true;
    }
    std::uint64_t counter = 0;
    if (!NextCounter(counter, error))
        return false;
    EncodeSignedLinkRecordFrame(record, kMarker, counter, *m_key, m_signedFrame, ntohs(m_destination.sin_port));
    Send(m_signedFrame, sizeof m_signedFrame, allSent, error);
    return true;
}

void CRecordBroadcaster::Send(const unsigned char* frame, std::size_t size, bool& allSent, std::string& error)
{
    const ssize_t sent = sendto(m_socket, frame, size, 0,
        reinterpret_cast<const sockaddr*>(&m_destination), sizeof m_destination);
    if (sent != static_cast<ssize_t>(size) && allSent) {
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &m_destination.sin_addr, address, sizeof address);
        error = std::string("cannot send to ") + address + ":" + std::to_string(ntohs(m_destination.sin_port))
            + ": " + std::strerror(errno);
        allSent = false;
    }
}

} // namespace kestrel
