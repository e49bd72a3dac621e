#pragma once

#include "catalogue/LinkRecord.h"
#include "channel/ChannelSocket.h"
#include "channel/LinkRecordStore.h"

#include <string>

namespace kestrel {

// The one listener of the program: opens the channel from the settings file
// beside the program and keeps every link-record frame's record in the
// received-record store, which the catalogue polls.
class CLinkReceiver : public CChannelSocket {
public:
    // programPath: the program file, whose settings file names the channel.
    explicit CLinkReceiver(std::string programPath);

    // Reads the channel settings and opens the socket for the owner. False
    // when there is no settings file path, else what Open gives.
    bool Start(CSocketOwner* owner);

    bool AddRecord(const LinkRecord& record) { return m_store.AddRecord(record); }
    int GetCount() const { return m_store.GetCount(); }
    bool GetRecord(int index, LinkRecord& record) const { return m_store.GetRecord(index, record); }
    CLinkRecordStore& Store() { return m_store; }
    const CLinkRecordStore& Store() const { return m_store; }

protected:
    void OnFrame(FrameView frame) override;

private:
    std::string m_programPath;
    CLinkRecordStore m_store;
};

} // namespace kestrel
