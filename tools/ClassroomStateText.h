#pragma once

#include "base/ClassroomState.h"
#include <cstdint>

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The classroom state in the announcer's words: options, the published
// state file, the journal and --listen.

// "open", "lesson" or "paused" as the options and the file say it.
bool ReadClassroomMode(std::string_view word, ClassroomMode& mode);
const char* ClassroomModeWord(ClassroomMode mode);

// The extra allowed hosts as a state carries them: the valid entries of
// `text` (split at any white space) with single spaces between, as many as
// fit the state's field. Every other entry lands in `skipped`, as the line
// that says so.
std::string AllowedHostsText(std::string_view text, std::vector<std::string>& skipped);

// One line for a classroom state heard on the channel, bound to boundPort:
//   from 10.0.0.5:41234: state mode=lesson links=5 home digest=0123456789abcdef bound-port=9000 valid-for=10
std::string DescribeHeardState(const ClassroomState& state, std::uint16_t boundPort, std::string_view sender);

} // namespace kestrel
