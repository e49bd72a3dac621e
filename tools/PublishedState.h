#pragma once

#include "base/ClassroomState.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// The classroom state as the publishing page writes it for the announcer:
// UTF-8 lines of "key = value", blank lines and # or ; comments; each key
// at most once, every key optional:
//   mode = paused             open, lesson or paused (default open)
//   hosts = example.com 10.0.0.5
//   message = 请看黑板         the pause text, at most 127 bytes in GBK
//   pause-id = 17             the page's number for this pause
//   pause-until = 1796640000  seconds since 1970 (UTC); absent or 0: none
//   after-pause = lesson      open or lesson, once pause-until has passed
//   lesson = 7@2026-12-07     chosen during this timetable slot; holds only then
//   set-at = 1796640000       when the page wrote it, seconds since 1970
struct PublishedState {
    ClassroomMode mode = ClassroomMode::Open;
    std::string hosts;
    // GBK.
    std::string message;
    std::uint32_t pauseId = 0;
    std::int64_t pauseUntilSeconds = 0;
    ClassroomMode afterPause = ClassroomMode::Open;
    std::string lesson;
    std::int64_t setAtSeconds = 0;
};

// Reads the file's text. False, with `problem` naming the line, for an
// unknown or repeated key or a value that does not fit.
bool ParsePublishedState(std::string_view text, PublishedState& state, std::string& problem);

} // namespace kestrel
