#pragma once

#include "publish/PublishOptions.h"
#include "publish/PublishStore.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// A classroom on the page: its own catalogue, mode, sets and history, and
// the announcer's on-air folder for it (what it announces, room.json).
struct PublishRoom {
    // "" without rooms.ini.
    std::string id;
    std::string name;
    std::string onAirFolder;
    CPublishStore* store = nullptr;
};

// Every room the page serves, from IT staff's rooms.ini (--rooms), each on
// its own folders (tools/RoomFolders); without the file, the one room of
// before, on the options' folders.
class CPublishRooms {
public:
    CPublishRooms() = default;
    // The one room without rooms.ini, on `store`.
    CPublishRooms(CPublishStore& store, std::string onAirFolder);

    // Reads --rooms, moves today's files into the first room on the first
    // start with rooms, and opens every room's store. Returns "" or why not;
    // rooms.ini's problems (whose rooms are left out) and the move go to
    // `journal`.
    std::string Open(const PublishOptions& options, std::vector<std::string>& journal);

    // Whether the rooms come from rooms.ini, so every request must name one.
    bool Named() const { return m_named; }
    const std::vector<PublishRoom>& All() const { return m_rooms; }
    // The pictures are one folder for every room, kept by any room's store.
    CPublishStore& Pictures() const { return *m_rooms.front().store; }
    // Null when there is no such room.
    const PublishRoom* Find(const std::string& id) const;

private:
    bool m_named = false;
    std::vector<std::unique_ptr<CPublishStore>> m_stores;
    std::vector<PublishRoom> m_rooms;
};

} // namespace kestrel
