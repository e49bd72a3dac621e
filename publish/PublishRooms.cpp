#include "publish/PublishRooms.h"

#include "tools/RoomFolders.h"
#include "tools/RoomsFile.h"

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
    } else if (std::string moved = MoveIntoFirstRoom(options.stateFolder, read.rooms.front().id); !moved.empty()) {
        journal.push_back(std::move(moved));
    }
    for (const RoomSettings& settings : read.rooms) {
        // Only the one room of before has a state file of IT staff's choosing.
        m_stores.push_back(std::make_unique<CPublishStore>(RoomFolder(options.stateFolder, settings.id),
            options.cataloguePath, RoomOnAirFolder(options.onAirFolder, settings.id),
            m_named ? "" : options.classroomStatePath));
        m_stores.back()->SharePictures(options.stateFolder + "/pictures");
        if (std::string problem = m_stores.back()->Open(); !problem.empty())
            return problem;
        m_rooms.push_back({settings.id, settings.name, RoomOnAirFolder(options.onAirFolder, settings.id),
            m_stores.back().get()});
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
