#pragma once

#include "base/LinkRecord.h"
#include "channel/FrameView.h"
#include "channel/TrustedKeys.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// One readable UTF-8 line for a link record heard on the channel, for IT
// staff asking what is being announced:
//   from 10.0.0.5:41234: name="语文" caption="…" url="…" picture="…" cool-picture="…"
std::string DescribeHeardRecord(const LinkRecord& record, std::string_view sender);

// What the trailer of a link-record or classroom-state frame says, for the
// end of that line:
//   "unsigned", "signed by key 1f2e3d4c5b6a7988, counter 1733212800000",
// and with trusted keys ", verified" or ", NOT verified: unknown key".
std::string DescribeSignature(const FrameView& frame, const std::vector<TrustedKey>* trusted);

} // namespace kestrel
