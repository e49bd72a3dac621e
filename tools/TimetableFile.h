#pragma once

#include "tools/PublishedState.h"
#include "tools/Timetable.h"

#include <cstdint>
#include <string>

namespace kestrel {

// The first line of lesson.ini, which the page writes when a teacher
// publishes while a slot runs: "# lesson: <occurrence key>".
constexpr const char* kLessonLead = "# lesson: ";
// The line of a saved lesson set that carries its extra hosts.
constexpr const char* kSavedHostsLead = "# hosts: ";

// The hosts of a saved set's "# hosts:" line; empty when it has none.
std::string SavedHosts(const std::string& text);
// Whether `text` is lesson.ini written during the occurrence `key`.
bool IsLessonText(const std::string& text, const std::string& key);

// Whether the published state still holds: during the occurrence
// `lessonKey` only when written for it; outside occurrences ("" key) when
// written for none and not before lastEndSeconds, the last one's end.
bool StateHolds(const PublishedState& state, const std::string& lessonKey, std::int64_t lastEndSeconds);

// What the timetable asks of a room at an instant.
struct TimetableLesson {
    // The running occurrence's key; empty outside one.
    std::string key;
    std::int64_t endSeconds = 0;
    ClassroomMode mode = ClassroomMode::Open;
    // The running lesson's extra hosts, from its catalogue's "# hosts:" line.
    std::string hosts;
    // When the last occurrence that ended did; 0 for none.
    std::int64_t lastEndSeconds = 0;
    // The next start or end today; 0 for none.
    std::int64_t nextChangeSeconds = 0;
};

// Follows a room's timetable.ini: read again whenever its text changed, its
// problems told in the journal as "FILE:LINE: problem", its good slots kept.
// A missing file is an empty timetable.
class CTimetableFile {
public:
    static constexpr long kLargestFile = 64 * 1024;

    explicit CTimetableFile(std::string path) : m_path(std::move(path)) {}

    void Poll();
    const Timetable& Slots() const { return m_timetable; }
    // The slot whose id is `id`; null for none.
    const TimetableSlot* Slot(int id) const;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    bool m_read = false;
    std::string m_text;
    Timetable m_timetable;
};

} // namespace kestrel
