#pragma once

#include "tools/PublishedState.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The classroom state the page puts on the air beside the catalogue, in
// the file the announcer's --published-state reads (tools/PublishedState.h).

// The file's text, UTF-8. Every key is written, the pause id too while no
// pause runs, so that the next pause's number follows it after a restart.
std::string PublishedStateText(const PublishedState& state);

// The mode the announcer sends at nowSeconds: a pause past its end has
// given way to the mode after it.
ClassroomMode ModeOnTheAir(const PublishedState& state, std::int64_t nowSeconds);

// One press of a mode button at nowSeconds. A pause gets a new number, the
// message (UTF-8) and, when minutes > 0, its end, after which the mode
// before it returns. "" or what is wrong, in a teacher's words.
std::string PressModeButton(PublishedState& state, ClassroomMode mode, const std::string& message, int minutes,
    std::int64_t nowSeconds);

// The longest pause the screens count down.
constexpr int kLongestPauseMinutes = 1440;

} // namespace kestrel
