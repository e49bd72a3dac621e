#pragma once

#include "tools/RoomTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// The most room.json can take: 4096 machines whose every text is as long as
// a report allows and escaped to six times its length, about 6 MB. Its
// readers read no more.
constexpr std::size_t kLargestRoomSummary = 8 << 20;

// The room's summary, room.json, as the publishing page and --room read it:
// the room's port, the digest on the air, when it was written (unix
// seconds), the announcer's version, the counts, the drops, and one entry
// per machine, those with problems first (offline, not applied, another
// version), each group by address. nowMs on the table's steady clock.
// portDrops: what the report port, shared by every room, dropped before a
// room could be told (malformed, from outside, for no room's port), counted
// beside the table's own.
std::string RoomSummaryText(const CRoomTable& table, const RoomDrops& portDrops, std::int64_t nowMs,
    std::int64_t unixSeconds, const std::string& version);

} // namespace kestrel
