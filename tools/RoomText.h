#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The room's summary (room.json) as IT staff read it in a terminal
// (--room): a line of counts, one of drops, then a line per machine in the
// summary's order. nowSeconds: unix seconds, for the summary's age. False,
// with `error` set, when the text is no summary.
bool RoomTableText(const std::string& summary, std::int64_t nowSeconds, std::string& table, std::string& error);

} // namespace kestrel
