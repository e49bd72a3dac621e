#pragma once

#include "channel/FrameFinder.h"
#include "channel/FrameView.h"
#include "channel/TrustedKeys.h"

#include <string>
#include <vector>

namespace kestrel {

class CStopSignals;

// Listens on the channel port as a browser does and prints every link
// record and classroom state it hears, with the address that sent it and
// its signature.
class CAnnouncementListener {
public:
    static constexpr std::size_t kDatagramReadSize = 8192;

    CAnnouncementListener() = default;
    ~CAnnouncementListener();
    CAnnouncementListener(const CAnnouncementListener&) = delete;
    CAnnouncementListener& operator=(const CAnnouncementListener&) = delete;

    // from: local address or interface whose card is listened on,
    // broadcasts included; empty hears every card. A multicast group
    // (empty: none) is heard as well, joined on that card or on the one the
    // system routes the group through.
    bool Open(const std::string& from, int port, const std::string& group, std::string& error);
    // Checks every signature heard against these keys from now on.
    void Trust(std::vector<TrustedKey> keys)
    {
        m_trusted = std::move(keys);
        m_checking = true;
    }
    // Prints what arrives until a stop signal.
    void Run(CStopSignals& stop);

private:
    void ReadDatagram();
    void PrintFrame(FrameView frame, const std::string& sender);

    int m_socket = -1;
    std::vector<TrustedKey> m_trusted;
    bool m_checking = false;
    CFrameFinder m_frames;
    unsigned char m_datagram[kDatagramReadSize] = {};
};

} // namespace kestrel
