#pragma once

#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedRecords.h"
#include "tools/CatalogueWatcher.h"
#include "tools/OnAirFolder.h"
#include "tools/TimetableFile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// The file IT staff keep and the one the teachers publish, which stands in
// for it while it exists and holds a valid catalogue. The journal says at
// every change which of them is on the air and what it holds; the on-air
// folder, when there is one, says the same to the publishing page.
// Beside the published file lie the room's timetable.ini and lesson.ini:
// while a slot runs, its lesson set goes out instead, or what a teacher
// published during that slot (lesson.ini stamped with it).
class CAnnouncedFiles {
public:
    explicit CAnnouncedFiles(const AnnounceOptions& options);

    // Reads what changed and reports it; the catalogue to send at nowMs
    // (wall-clock milliseconds since 1970), or null while none is valid.
    const AnnouncedRecords* Poll(std::int64_t nowMs);
    // What the timetable asked at the last poll.
    const TimetableLesson& Lesson() const { return m_lesson; }
    // Milliseconds until the timetable's next start or end, at most a
    // second: a clock step is noticed within one.
    std::int64_t UntilTimetableChanges(std::int64_t nowMs) const;

private:
    static CCatalogueWatcher::Change Read(CCatalogueWatcher& watcher, bool missingIsQuiet);
    // The running lesson's catalogue: lesson.ini or its set; null when
    // neither is valid or none runs.
    const CCatalogueWatcher* LessonSource(std::int64_t nowSeconds);
    std::string OnAirLine(const CCatalogueWatcher& source) const;
    void WriteOnAir(const OnAir& onAir);

    CCatalogueWatcher m_own;
    CCatalogueWatcher m_published;
    std::string m_roomFolder;
    CTimetableFile m_timetable;
    CCatalogueWatcher m_lessonFile;
    std::unique_ptr<CCatalogueWatcher> m_setFile;
    TimetableLesson m_lesson;
    COnAirFolder m_onAirFolder;
    std::string m_reportedLine;
    std::string m_reportedText;
    int m_onAirError = 0;
};

} // namespace kestrel
