#include "tools/RoomFolders.h"

#include "base/StateFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace kestrel {

std::string RoomFolder(const std::string& stateFolder, const std::string& id)
{
    return id.empty() ? stateFolder : stateFolder + "/rooms/" + id;
}

std::string RoomOnAirFolder(const std::string& onAirFolder, const std::string& id)
{
    return id.empty() || onAirFolder.empty() ? onAirFolder : onAirFolder + "/rooms/" + id;
}

std::string MoveIntoFirstRoom(const std::string& stateFolder, const std::string& firstId)
{
    const std::string room = RoomFolder(stateFolder, firstId);
    if (const int error = MakeFolders(stateFolder + "/rooms"))
        return "cannot make " + stateFolder + "/rooms: " + std::strerror(error);
    // Whoever makes the room's folder moves the files; the other finds it made.
    if (::mkdir(room.c_str(), 0700) != 0)
        return errno == EEXIST ? "" : "cannot make " + room + ": " + std::strerror(errno);
    std::string moved;
    std::string failed;
    for (const char* name : {"catalogue.ini", "classroom-state.ini", "sets", "history", "timetable.ini"}) {
        const std::string from = stateFolder + "/" + name;
        if (std::rename(from.c_str(), (room + "/" + name).c_str()) == 0)
            moved += std::string(moved.empty() ? "" : ", ") + name;
        else if (errno != ENOENT)
            failed += "; cannot move " + from + ": " + std::strerror(errno);
    }
    if (moved.empty() && failed.empty())
        return "";
    if (moved.empty())
        return failed.substr(2);
    return "moved " + moved + " into the first room, " + room + failed;
}

} // namespace kestrel
