#pragma once

#include "base/ClassroomState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// A room's weekly lessons, in timetable.ini in the room's folder; the page
// writes it, the announcer follows it. One section per slot:
//   [slot]
//   id = 7                  positive, unique in the file
//   days = 1 2 3 4 5        ISO weekdays, 1 Monday ... 7 Sunday
//   start = 08:00           the announcing machine's local time
//   end = 08:45             later than start, the same day
//   set = 语文第三课         the lesson set's name
//   set-file = sets/<hex>.ini   relative to the room's folder
//   mode = lesson           open or lesson
//   off-week = 2026-W50     optional: the ISO week the slot is switched off
struct TimetableSlot {
    int id = 0;
    // Bit d for ISO weekday d.
    unsigned days = 0;
    // Minutes after midnight, local time.
    int start = 0;
    int end = 0;
    std::string set;
    std::string setFile;
    ClassroomMode mode = ClassroomMode::LessonOnly;
    std::string offWeek;
    // Where the slot's section begins in the file; 0 for a slot not read from one.
    int line = 0;
};

struct Timetable {
    std::vector<TimetableSlot> slots;
};

// One slot on one day: its key "<slot id>@<YYYY-MM-DD>" (the local date of
// its start) and its instants in seconds since 1970 (UTC).
struct SlotOccurrence {
    int slotId = 0;
    std::string key;
    std::int64_t startSeconds = 0;
    std::int64_t endSeconds = 0;
};

// Reads the file's text into `timetable`. Each mistake lands in `problems`
// as "LINE: problem", and its slot is left out; a slot that overlaps an
// earlier one is left out too, naming both. True when nothing was wrong.
bool ParseTimetable(std::string_view text, Timetable& timetable, std::vector<std::string>& problems);
std::string TimetableText(const Timetable& timetable);

// "" when `slot` fits: its fields are valid and it overlaps no other slot of
// the timetable with another id; else what is wrong, in a teacher's words.
std::string TimetableOverlap(const Timetable& timetable, const TimetableSlot& slot);

// The occurrence running at nowSeconds, if any. Start and end are computed
// from the local clock each time, never remembered: a start (or end) in
// the spring-forward gap happens at the first valid minute after it, a time
// that occurs twice in autumn counts the first time.
std::optional<SlotOccurrence> SlotAt(const Timetable& timetable, std::int64_t nowSeconds);
// The end of the latest occurrence that ended at or before nowSeconds, in
// the last two weeks; 0 for none.
std::int64_t LastSlotEnd(const Timetable& timetable, std::int64_t nowSeconds);
// The next start or end after nowSeconds on today's local date; 0 for none.
std::int64_t NextSlotChange(const Timetable& timetable, std::int64_t nowSeconds);

// "2026-W50": the ISO week of the local date at nowSeconds.
std::string IsoWeekAt(std::int64_t nowSeconds);
// "08:05" from minutes after midnight, and back; false for anything else.
std::string MinuteText(int minute);
bool ReadMinuteText(std::string_view text, int& minute);

} // namespace kestrel
