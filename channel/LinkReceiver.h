#pragma once

#include "base/LinkRecord.h"
#include "channel/ChannelSocket.h"
#include "channel/LinkRecordStore.h"

#include <string>

namespace kestrel {

// The one listener of the program: opens the channel where the settings
// file says and keeps every link-record frame's record in the
// received-record store, which the catalogue polls.
class CLinkReceiver : public CChannelSocket {
public:
    // Opens the socket on the bind address, port and multicast group the
    // settings name, for the owner; what Open gives.
    bool Start(const std::string& bindAddress, long port, CSocketOwner* owner, const std::string& multicastGroup = {})
    {
        return Open(bindAddress.c_str(), port, owner, multicastGroup.c_str());
    }

    bool AddRecord(const LinkRecord& record) { return m_store.AddRecord(record); }
    int GetCount() const { return m_store.GetCount(); }
    bool GetRecord(int index, LinkRecord& record) const { return m_store.GetRecord(index, record); }
    CLinkRecordStore& Store() { return m_store; }
    const CLinkRecordStore& Store() const { return m_store; }

protected:
    void OnFrame(FrameView frame) override;

private:
    CLinkRecordStore m_store;
};

} // namespace kestrel
