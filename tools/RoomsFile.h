#pragma once

#include <string>
#include <vector>

namespace kestrel {

// One classroom: a channel of its own, which a pupil machine joins with the
// settings it already has (its port, and its multicast group).
struct RoomSettings {
    // ASCII a-z, 0-9, "_" and "-", 1 to 32: used in paths and options.
    std::string id;
    // UTF-8, shown on the page.
    std::string name;
    int port = 0;
    // The multicast group or broadcast address the room's frames go to.
    std::string to;
    // The card name or local address to send from; empty: the system's choice.
    std::string from;
    int ttl = 1;
    // Where the room's section starts.
    int line = 0;
};

struct RoomsRead {
    // Whether there is a rooms file at all; without one there is one room,
    // on the announcer's own options.
    bool found = false;
    // The well-formed rooms, in the file's order.
    std::vector<RoomSettings> rooms;
    // "FILE:LINE: problem", one for each mistake; a room with one is left
    // out, the others stay.
    std::vector<std::string> problems;
};

// Reads rooms.ini, IT staff's list of rooms:
//   [room]
//   id = r302
//   name = 三年二班
//   port = 9302
//   to = 239.255.93.2
//   from = eth0        (optional)
//   ttl = 1            (optional, 1 to 255)
// No two rooms share an id or a port, and none uses `reportPort`.
RoomsRead ReadRoomsFile(const std::string& path, int reportPort);

// Whether `id` can name a room.
bool IsRoomId(const std::string& id);

} // namespace kestrel
