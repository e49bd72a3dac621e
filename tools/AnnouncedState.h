#pragma once

#include "base/ClassroomState.h"
#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedRecords.h"
#include "tools/PublishedState.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The classroom state the announcer sends: the options' state, or the
// published state file's while that file exists and was valid once. A
// pause with a deadline ends there and gives way to the mode it names.
// Each change of what goes out is one line in the journal.
class CAnnouncedState {
public:
    // Larger files are refused unread: the state fits in a few lines.
    static constexpr long kLargestFile = 16 * 1024;

    // nowMs: wall-clock milliseconds since 1970, when the announcer starts.
    CAnnouncedState(const AnnounceOptions& options, std::int64_t nowMs);

    // Reads the published state file again when its text changed. True
    // when what is sent changed, a passed deadline included.
    bool Poll(std::int64_t nowMs);
    // The state to send with `catalogue` at nowMs.
    ClassroomState Build(const AnnouncedRecords& catalogue, std::int64_t nowMs) const;
    // The port every state names for the screens' reports; 0 for none.
    void ReportTo(std::uint16_t port) { m_reportPort = port; }
    // Milliseconds until the running pause ends; -1 when none ends.
    std::int64_t UntilPauseEnds(std::int64_t nowMs) const;

private:
    // Each source in the file's form, its hosts already checked.
    using Settings = PublishedState;

    void ReadPublished();
    const Settings& InForce() const { return m_publishedValid ? m_published : m_options; }
    std::int64_t PauseEndMs() const { return InForce().pauseUntilSeconds * 1000; }
    ClassroomMode ModeAt(std::int64_t nowMs) const;
    std::string Line(std::int64_t nowMs) const;

    std::uint32_t m_validFor;
    std::uint16_t m_reportPort = 0;
    Settings m_options;
    std::string m_publishedPath;
    bool m_publishedRead = false;
    bool m_publishedValid = false;
    std::string m_publishedText;
    Settings m_published;
    std::string m_reportedLine;
};

} // namespace kestrel
