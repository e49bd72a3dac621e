#include "channel/LinkReceiver.h"

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
    if (frame.Marker() != 0 && frame.Marker() != 1)
        return;
    if (frame.Type() != kLinkRecordFrameType)
        return;
    // A shorter payload does not hold a whole record; what follows it in the
    // buffer belongs to other frames.
    if (frame.PayloadLength() < kLinkRecordSize)
        return;
    LinkRecord record;
    CopyInverted(frame.Payload(), kLinkRecordSize, reinterpret_cast<unsigned char*>(&record));
    AddRecord(record);
}

} // namespace kestrel
