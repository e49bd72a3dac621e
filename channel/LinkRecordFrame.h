#pragma once

#include "catalogue/LinkRecord.h"
#include "channel/FrameView.h"

namespace kestrel {

// Reads the link record out of a checked frame: only a link-record frame
// with marker 0 or 1 and a whole record in its payload carries one. The
// payload travels inverted; the frame itself is left as it is.
bool ReadLinkRecordFrame(const FrameView& frame, LinkRecord& record);

} // namespace kestrel
