#include "tools/RoomFolders.h"

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
    return id.empty() ? onAirFolder : onAirFolder + "/rooms/" + id;
}

bool MoveIntoFirstRoom(const std::string& stateFolder, const std::string& firstId, std::string& error)
{
    const std::string room = RoomFolder(stateFolder, firstId);
    struct stat status {};
    if (::stat(room.c_str(), &status) == 0)
        return true;
    ::mkdir((stateFolder + "/rooms").c_str(), 0755);
    // The one that makes the folder moves the files; the other finds it made.
    if (::mkdir(room.c_str(), 0755) != 0) {
        if (errno == EEXIST)
            return true;
        error = "cannot make " + room + ": " + std::strerror(errno);
        return false;
    }
    for (const char* name : {"catalogue.ini", "classroom-state.ini", "sets", "history", "timetable.ini"}) {
        const std::string from = stateFolder + "/" + name;
        if (std::rename(from.c_str(), (room + "/" + name).c_str()) != 0 && errno != ENOENT) {
            error = "cannot move " + from + " into " + room + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace kestrel
