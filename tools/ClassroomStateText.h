#pragma once

#include "base/ClassroomState.h"
#include "channel/FrameView.h"

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

// One line for a classroom-state frame heard on the channel:
//   from 10.0.0.5:41234: state mode=paused links=5 digest=0123456789abcdef bound-port=9000
// or why the frame is not a well-formed state.
std::string DescribeHeardState(const FrameView& frame, std::string_view sender);

} // namespace kestrel
