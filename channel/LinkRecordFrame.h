#pragma once

#include "base/LinkRecord.h"
#include "channel/FrameFormat.h"
#include "channel/FrameView.h"

namespace kestrel {

// Whether a checked frame carries a link record: only a link-record frame
// with marker 0 or 1 and a whole record in its payload does. The record
// travels inverted at the front of the payload.
bool IsLinkRecordFrame(const FrameView& frame);

// Reads the link record out of a link-record frame, the frame itself left
// as it is; false for any other frame.
bool ReadLinkRecordFrame(const FrameView& frame, LinkRecord& record);

// The link-record frame: type 0xC8, the record inverted byte by byte.
void EncodeLinkRecordFrame(const LinkRecord& record, unsigned char marker,
                           unsigned char (&frame)[kLinkRecordFrameSize]);

} // namespace kestrel
