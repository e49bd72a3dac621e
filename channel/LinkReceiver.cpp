#include "channel/LinkReceiver.h"

#include "channel/LinkRecordFrame.h"
#include "channel/PortText.h"
#include "config/ChannelSettings.h"

#include <utility>

namespace kestrel {

CLinkReceiver::CLinkReceiver(std::string programPath) : m_programPath(std::move(programPath)) {}

bool CLinkReceiver::Start(CSocketOwner* owner)
{
    std::string portText;
    std::string bindAddress;
    if (!ReadChannelSettings(m_programPath, portText, bindAddress))
        return false;
    return Open(bindAddress.c_str(), PortFromText(portText), owner);
}

void CLinkReceiver::OnFrame(FrameView frame)
{
    if (IsLinkRecordFrame(frame))
        m_store.AddInvertedRecord(frame.Payload());
}

} // namespace kestrel
