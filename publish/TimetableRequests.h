#pragma once

#include "publish/PublishStore.h"

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The page's timetable requests, for the room's store.

// GET /api/timetable: {"slots": [{"id", "days": [1..7], "start": "08:00",
// "end", "set", "mode", "offThisWeek"}], "week": "2026-W50", "running":
// null or {"id", "key", "set", "secondsLeft"}}.
nlohmann::json TimetableJson(const CPublishStore& store, std::int64_t nowSeconds);

// POST /api/timetable: {"action": "save", "id": 0 (new) or the slot's,
// "days": "1 3 5", "start": "08:00", "end": "08:45", "set", "mode": "open"
// or "lesson"}; {"action": "delete", "id"}; {"action": "off" or "on", "id"}
// for this week. Returns "" or what is wrong in Chinese, with the form's
// field it lies in when there is one; `badRequest` (and "") when the
// form's shape is wrong.
std::string ChangeTimetableByForm(CPublishStore& store, const nlohmann::json& form, std::int64_t nowSeconds,
    std::string& field, bool& badRequest);

} // namespace kestrel
