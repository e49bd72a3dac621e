#include "channel/LinkRecordFrame.h"

#include "channel/FrameWriter.h"

namespace kestrel {

bool IsLinkRecordFrame(const FrameView& frame)
{
    if (frame.Marker() != 0 && frame.Marker() != 1)
        return false;
    if (frame.Type() != kLinkRecordFrameType)
        return false;
    // A shorter payload does not hold a whole record; what follows it in the
    // buffer belongs to other frames.
    return frame.PayloadLength() >= kLinkRecordSize;
}

bool ReadLinkRecordFrame(const FrameView& frame, LinkRecord& record)
{
    if (!IsLinkRecordFrame(frame))
        return false;
    CopyInverted(frame.Payload(), kLinkRecordSize, reinterpret_cast<unsigned char*>(&record));
    return true;
}

void EncodeLinkRecordFrame(const LinkRecord& record, unsigned char marker,
                           unsigned char (&frame)[kLinkRecordFrameSize])
{
    CopyInverted(reinterpret_cast<const unsigned char*>(&record), kLinkRecordSize, frame + kFrameHeaderSize);
    SealFrame(kLinkRecordFrameType, marker, kLinkRecordSize, frame);
}

} // namespace kestrel
