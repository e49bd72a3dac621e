#pragma once

#include <string>

namespace kestrel {

// Where a room keeps its files. Without rooms the id is "" and a room's
// folders are the shared ones, exactly as before there were rooms.

// The state folder's S/rooms/<id>, or S itself for "".
std::string RoomFolder(const std::string& stateFolder, const std::string& id);
// The announcer's on-air folder's O/rooms/<id>, or O itself for "" (and
// empty when O is: then no announcer tells).
std::string RoomOnAirFolder(const std::string& onAirFolder, const std::string& id);

// On the first start with rooms, today's published catalogue, classroom
// state, lesson sets, history and timetable move into the first room, so
// no teacher loses them. Only when that room's folder does not exist yet;
// both programs may call it at once (the folder is made by one of them
// only, and each rename is atomic). Returns a line for the journal: what
// moved, or what could not; empty when there was nothing to do.
std::string MoveIntoFirstRoom(const std::string& stateFolder, const std::string& firstId);

} // namespace kestrel
