#pragma once

#include "base/LinkRecord.h"

#include <string>
#include <string_view>

namespace kestrel {

// One readable UTF-8 line for a link record heard on the channel, for IT
// staff asking what is being announced:
//   from 10.0.0.5:41234: name="语文" caption="…" url="…" picture="…" cool-picture="…"
std::string DescribeHeardRecord(const LinkRecord& record, std::string_view sender);

} // namespace kestrel
