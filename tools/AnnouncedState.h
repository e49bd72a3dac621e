#pragma once

#include "base/ClassroomState.h"
#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedRecords.h"
#include "tools/PublishedState.h"
#include "tools/TimetableFile.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The classroom state the announcer sends: the options' state, or the
// published state file's while that file exists and was valid once. A
// pause with a deadline ends there and gives way to the mode it names.
// The timetable rules over both: while a slot runs, its mode goes out
// unless the file was written for that slot ("lesson = KEY"); after a
// slot, a file written before its end, or for a slot, has ended and the
// room is open. Each change of what goes out is one line in the journal.
class CAnnouncedState {
public:
    // Larger files are refused unread: the state fits in a few lines.
    static constexpr long kLargestFile = 16 * 1024;

    // nowMs: wall-clock milliseconds since 1970, when the announcer starts.
    CAnnouncedState(const AnnounceOptions& options, std::int64_t nowMs);

    // Reads the published state file again when its text changed and
    // follows what the timetable asks now. True when what is sent changed,
    // a passed deadline included.
    bool Poll(std::int64_t nowMs, const TimetableLesson& lesson = TimetableLesson());
    // The state to send with `catalogue` at nowMs.
    ClassroomState Build(const AnnouncedRecords& catalogue, std::int64_t nowMs) const;
    // The port every state names for the screens' reports; 0 for none.
    void ReportTo(std::uint16_t port) { m_reportPort = port; }
    // Milliseconds until the running pause ends; -1 when none ends.
    std::int64_t UntilPauseEnds(std::int64_t nowMs) const;

private:
    // Each source in the file's form, its hosts already checked.
    using Settings = PublishedState;
    enum class Source { Options, Published, Lesson, LessonEnded };

    void ReadPublished();
    void Follow(const TimetableLesson& lesson);
    const Settings& InForce() const;
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
    Source m_source = Source::Options;
    std::string m_lessonKey;
    // The running lesson's mode and hosts; the room after a lesson: open.
    Settings m_lesson;
    std::string m_lessonHosts;
    Settings m_lessonEnded;
    std::string m_reportedLine;
};

} // namespace kestrel
