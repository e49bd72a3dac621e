#pragma once

#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedFiles.h"
#include "tools/AnnouncedState.h"
#include "tools/RecordBroadcaster.h"
#include "tools/RoomsFile.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The options of one room of the rooms file: its channel (port, to, from,
// ttl), its published files in rooms/<id>/ beside the options' own and its
// on-air folder in <on-air>/rooms/<id>/.
AnnounceOptions RoomOptions(const AnnounceOptions& options, const RoomSettings& room);

// The folder the publishing page writes into, where the rooms' folders
// are: that of --published, else of --published-state; empty for none.
std::string PublishedFolder(const AnnounceOptions& options);

// One room on the air: its channel, the catalogue and the classroom state
// it announces, and what it sent last.
class CAnnouncedRoom {
public:
    // options: the room's own; nowMs: wall-clock milliseconds at the start.
    CAnnouncedRoom(const AnnounceOptions& options, std::int64_t nowMs);

    bool Open(std::string& error);
    void SignWith(const SigningKey& key, CAnnounceCounter& counter) { m_broadcaster.SignWith(key, counter); }
    void ReportTo(std::uint16_t port) { m_state.ReportTo(port); }

    // Reads what changed in the room's files; true when what goes out
    // differs from what was sent last.
    bool Poll(std::int64_t nowMs);
    // Sends the state and the catalogue once the catalogue is valid. False
    // when nothing or not everything went out; a new send error is said once.
    bool Send(std::int64_t nowMs);
    // The digest of the state sent last; null before the first.
    const CatalogueDigest* OnAir() const { return m_sent ? &m_onAir : nullptr; }
    // Milliseconds until what the room sends may change by itself: its
    // pause ends, or a slot of its timetable starts or ends; a second at
    // most, so that a step of the clock is noticed.
    std::int64_t UntilStateChanges(std::int64_t nowMs) const;
    const AnnounceOptions& Options() const { return m_options; }

private:
    AnnounceOptions m_options;
    CRecordBroadcaster m_broadcaster;
    CAnnouncedFiles m_files;
    CAnnouncedState m_state;
    const AnnouncedRecords* m_catalogue = nullptr;
    bool m_sent = false;
    AnnouncedRecords m_lastSent;
    CatalogueDigest m_onAir{};
    std::string m_sendError;
};

} // namespace kestrel
