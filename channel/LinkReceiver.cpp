#include "channel/LinkReceiver.h"

#include "channel/LinkRecordFrame.h"

namespace kestrel {

void CLinkReceiver::OnFrame(FrameView frame)
{
    if (IsLinkRecordFrame(frame))
        m_store.AddInvertedRecord(frame.Payload());
}

} // namespace kestrel
