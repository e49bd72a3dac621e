#include "tools/AnnouncedRoom.h"

#include "base/ConsoleLine.h"
#include "tools/RoomFolders.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The same file name in the room's folder beside it.
std::string InRoom(const std::string& path, const std::string& id)
{
    return path.empty() ? path : RoomFolder(FolderOf(path), id) + "/" + path.substr(path.rfind('/') + 1);
}

bool SameRecords(const AnnouncedRecords& a, const AnnouncedRecords& b)
{
    return a.count == b.count && std::memcmp(a.records, b.records, sizeof(LinkRecord) * a.count) == 0;
}

} // namespace

AnnounceOptions RoomOptions(const AnnounceOptions& options, const RoomSettings& room)
{
    AnnounceOptions own = options;
    own.port = room.port;
    own.toAddress = room.to;
    own.from = room.from;
    own.ttl = room.ttl;
    own.publishedPath = InRoom(options.publishedPath, room.id);
    own.publishedStatePath = InRoom(options.publishedStatePath, room.id);
    own.onAirFolder = options.onAirFolder.empty() ? std::string() : RoomOnAirFolder(options.onAirFolder, room.id);
    return own;
}

std::string PublishedFolder(const AnnounceOptions& options)
{
    const std::string& published = options.publishedPath.empty() ? options.publishedStatePath : options.publishedPath;
    return published.empty() ? published : FolderOf(published);
}

CAnnouncedRoom::CAnnouncedRoom(const AnnounceOptions& options, std::int64_t nowMs)
    : m_options(options), m_files(m_options), m_state(m_options, nowMs)
{
}

bool CAnnouncedRoom::Open(std::string& error)
{
    return m_broadcaster.Open(m_options.from, m_options.toAddress, m_options.port, m_options.ttl, error);
}

std::int64_t CAnnouncedRoom::UntilStateChanges(std::int64_t nowMs) const
{
    const std::int64_t pauseEnds = m_state.UntilPauseEnds(nowMs);
    const std::int64_t slotChanges = m_files.UntilTimetableChanges(nowMs);
    return pauseEnds >= 0 ? std::min(pauseEnds, slotChanges) : slotChanges;
}

bool CAnnouncedRoom::Poll(std::int64_t nowMs)
{
    m_catalogue = m_files.Poll(nowMs);
    const bool stateChanged = m_state.Poll(nowMs, m_files.Lesson());
    return stateChanged || (m_catalogue != nullptr) != m_sent || (m_catalogue && !SameRecords(*m_catalogue, m_lastSent));
}

bool CAnnouncedRoom::Send(std::int64_t nowMs)
{
    m_sent = m_catalogue != nullptr;
    if (!m_catalogue)
        return false;
    const ClassroomState sending = m_state.Build(*m_catalogue, nowMs);
    m_onAir = sending.digest;
    m_lastSent = *m_catalogue;
    std::string error;
    const bool sent = m_broadcaster.Broadcast(sending, *m_catalogue, error);
    // A network that is down would repeat its error at every interval.
    if (error != m_sendError)
        PrintLine(error.empty() ? "sending again to " + m_options.toAddress + ":" + std::to_string(m_options.port) : error);
    m_sendError = error;
    return sent;
}

} // namespace kestrel
