#pragma once

#include <string>

namespace kestrel {

// Where a room keeps its files. With no rooms file the id is "" and the
// folders are the ones of a school with one room: S and O themselves.
// stateFolder (S): the shared state folder, /var/lib/kestrel; a room's is
// S/rooms/<id>.
std::string RoomFolder(const std::string& stateFolder, const std::string& id);
// onAirFolder (O): the announcer's run-time folder, /run/kestrel; a room's
// is O/rooms/<id>.
std::string RoomOnAirFolder(const std::string& onAirFolder, const std::string& id);

// On the first start with rooms, what one room published before moves into
// the first room: when S/rooms/<firstId> does not exist it is made, and
// S's catalogue.ini, classroom-state.ini, sets, history and timetable.ini
// are renamed into it, each only if present. Safe when the page and the
// announcer run it at once. False, with `error` set, when the folder cannot
// be made or a file not moved.
bool MoveIntoFirstRoom(const std::string& stateFolder, const std::string& firstId, std::string& error);

} // namespace kestrel
