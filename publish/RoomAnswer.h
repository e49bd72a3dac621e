#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The page's room view asks for what the screens in the room report, as
// the announcer sums it up in its on-air folder (room.json).

// The answer to /api/room:
// {"room": the summary, "age": seconds since the announcer wrote it}, the
// age from this machine's clock, which the announcer shares, so that a
// stopped announcer shows whatever the teacher's clock says; or
// {"room": null, "why": in a teacher's words} when there is none to show.
nlohmann::json RoomAnswer(const std::string& onAirFolder, std::int64_t nowSeconds);

} // namespace kestrel
