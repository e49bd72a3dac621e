#include "publish/PublishRooms.h"

#include "base/StateFolder.h"
#include "tools/RoomFolders.h"
#include "tools/RoomsFile.h"

#include <unistd.h>

namespace kestrel {

CPublishRooms::CPublishRooms(CPublishStore& store, std::string onAirFolder)
{
    m_rooms.push_back({"", "", std::move(onAirFolder), &store});
}

std::string CPublishRooms::Open(const PublishOptions& options, std::vector<std::string>& journal)
{
    // The page hears no reports, so no report port is refused here; the
    // announcer reads the same file and names that mistake.
    RoomsRead read;
    if (!options.roomsPath.empty())
        read = ReadRoomsFile(options.roomsPath, 0);
    journal.insert(journal.end(), read.problems.begin(), read.problems.end());
    m_named = read.found;
    if (!read.found) {
        read.rooms.push_back(RoomSettings{});
    } else if (read.rooms.empty()) {
        return options.roomsPath + " has no room without a mistake; the page serves none until it is mended";
    } else {
        const std::string first = RoomFolder(options.stateFolder, read.rooms.front().id);
        const bool moving = ::access(first.c_str(), F_OK) != 0;
        std::string error;
        MakeFolders(options.stateFolder);
        // Left behind, the files are still there for IT staff to move by hand.
        if (!MoveIntoFirstRoom(options.stateFolder, read.rooms.front().id, error))
            journal.push_back(error);
        else if (moving)
            journal.push_back("what was published before rooms is in the first room now, " + first);
    }
    for (const RoomSettings& settings : read.rooms) {
        // Without an on-air folder no announcer tells, whatever the room.
        const std::string onAir = options.onAirFolder.empty() ? "" : RoomOnAirFolder(options.onAirFolder, settings.id);
        // Only the one room of before has a state file of IT staff's choosing.
        m_stores.push_back(std::make_unique<CPublishStore>(RoomFolder(options.stateFolder, settings.id),
            options.cataloguePath, onAir,
            m_named ? "" : options.classroomStatePath));
        m_stores.back()->SharePictures(options.stateFolder + "/pictures");
        if (std::string problem = m_stores.back()->Open(); !problem.empty())
            return problem;
        m_rooms.push_back({settings.id, settings.name, onAir, m_stores.back().get()});
    }
    return "";
}

const PublishRoom* CPublishRooms::Find(const std::string& id) const
{
    for (const PublishRoom& room : m_rooms) {
        if (room.id == id)
            return &room;
    }
    return nullptr;
}

} // namespace kestrel
