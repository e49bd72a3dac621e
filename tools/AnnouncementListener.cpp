#include "tools/AnnouncementListener.h"

#include "channel/ClassroomStateFrame.h"
#include "channel/LinkRecordFrame.h"
#include "channel/MulticastGroup.h"
#include "channel/NetworkCards.h"
#include "base/ConsoleLine.h"
#include "tools/ClassroomStateText.h"
#include "tools/HeardRecordText.h"
#include "tools/LocalAddress.h"
#include "tools/StopSignals.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

namespace {
std::string AddressText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}
} // namespace

CAnnouncementListener::~CAnnouncementListener()
{
    if (m_socket >= 0)
        close(m_socket);
}

bool CAnnouncementListener::Open(const std::string& from, int port, const std::string& group, std::string& error)
{
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (!ResolveLocalAddress(from, local.sin_addr, error))
        return false;
    in_addr groupAddress = {};
    const bool joins = !group.empty();
    if (joins && !ReadMulticastGroup(group, groupAddress)) {
        error = "\"" + group + "\" is not an IPv4 multicast group";
        return false;
    }
    // A socket bound to a card's own address hears neither its subnet's
    // broadcasts nor a group: it is bound to every address and kept to the
    // card instead.
    const std::string listenedOn = AddressText(local);
    unsigned card = 0;
    if (local.sin_addr.s_addr != htonl(INADDR_ANY)) {
        card = CardIndexOfAddress(local.sin_addr);
        if (card == 0) {
            error = "cannot listen on " + listenedOn + ": no network card holds " + from;
            return false;
        }
        local.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // Shares the port with a browser on the same machine that allows it.
    const int reuse = 1;
    if (m_socket < 0 || setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0
        || (card != 0 && !HearOnlyCard(m_socket, card))
        || bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "cannot listen on " + listenedOn + ": " + std::strerror(errno);
        return false;
    }
    if (joins && !JoinMulticastGroup(m_socket, groupAddress, card)) {
        error = "cannot join the group " + group + ": " + std::strerror(errno);
        return false;
    }
    PrintLine("listening for link records on " + listenedOn + (joins ? " and the group " + group : ""));
    return true;
}

void CAnnouncementListener::Run(CStopSignals& stop)
{
    pollfd watched[2] = {{stop.Descriptor(), POLLIN, 0}, {m_socket, POLLIN, 0}};
    while (poll(watched, 2, -1) >= 0 && (watched[0].revents & POLLIN) == 0) {
        if (watched[1].revents & POLLIN)
            ReadDatagram();
    }
}

void CAnnouncementListener::ReadDatagram()
{
    sockaddr_in sender = {};
    socklen_t senderSize = sizeof sender;
    // MSG_TRUNC gives a datagram's real length: one longer than the browser
    // can read would be lost there too, so it is dropped here.
    const ssize_t received = recvfrom(m_socket, m_datagram, sizeof m_datagram, MSG_TRUNC,
        reinterpret_cast<sockaddr*>(&sender), &senderSize);
    if (received <= 0 || static_cast<std::size_t>(received) > sizeof m_datagram)
        return;
    const std::string senderText = AddressText(sender);
    m_frames.Feed(m_datagram, static_cast<std::size_t>(received),
        [&](FrameView frame) { PrintFrame(frame, senderText); });
}

void CAnnouncementListener::PrintFrame(FrameView frame, const std::string& sender)
{
    // Only what a browser would read.
    const std::vector<TrustedKey>* trusted = m_checking ? &m_trusted : nullptr;
    LinkRecord record;
    ClassroomState state;
    if (ReadLinkRecordFrame(frame, record))
        PrintLine(DescribeHeardRecord(record, sender) + " [" + DescribeSignature(frame, trusted) + "]");
    else if (ReadClassroomStateFrame(frame, state) == StateFault::None)
        PrintLine(DescribeHeardState(state, frame.BoundPort(), sender) + " [" + DescribeSignature(frame, trusted) + "]");
}

} // namespace kestrel
