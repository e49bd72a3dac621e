#include "tools/Timetable.h"

#include "tools/ClassroomStateText.h"
#include "tools/SectionedText.h"
#include "tools/WholeNumber.h"

#include <algorithm>
#include <ctime>
#include <functional>

namespace kestrel {
namespace {

constexpr int kMinutesPerDay = 24 * 60;
// The days LastSlotEnd looks back: a week, and a week switched off.
constexpr int kDaysLookedBack = 15;
constexpr std::size_t kLongestSetName = 64;

struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysSinceEpoch(const LocalDate& date)
{
    const int year = date.year - (date.month <= 2);
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

LocalDate DateOfDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int dayOfEra = static_cast<int>(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int shifted = (5 * dayOfYear + 2) / 153;
    LocalDate date;
    date.day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    date.month = shifted < 10 ? shifted + 3 : shifted - 9;
    date.year = static_cast<int>(yearOfEra + era * 400) + (date.month <= 2);
    return date;
}

// 1 Monday ... 7 Sunday; 1970-01-01 was a Thursday.
int IsoWeekday(std::int64_t days)
{
    return static_cast<int>(((days + 3) % 7 + 7) % 7) + 1;
}

std::int64_t LocalDays(std::int64_t seconds, int* minute = nullptr)
{
    const std::time_t at = static_cast<std::time_t>(seconds);
    std::tm local = {};
    localtime_r(&at, &local);
    if (minute)
        *minute = local.tm_hour * 60 + local.tm_min;
    return DaysSinceEpoch({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

std::string Padded(int number, int width)
{
    std::string text = std::to_string(number);
    return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
}

std::string IsoWeekOfDays(std::int64_t days)
{
    // The week belongs to the year of its Thursday.
    const std::int64_t thursday = days - IsoWeekday(days) + 4;
    const LocalDate date = DateOfDays(thursday);
    const std::int64_t week = (thursday - DaysSinceEpoch({date.year, 1, 1})) / 7 + 1;
    return std::to_string(date.year) + "-W" + Padded(static_cast<int>(week), 2);
}

// The instant the local clock shows `minute` of the day, when it shows it
// exactly; isdst picks the earlier or the later offset of an autumn hour.
std::optional<std::int64_t> ExactInstant(std::int64_t days, int minute, int isdst)
{
    const LocalDate date = DateOfDays(days);
    std::tm wanted = {};
    wanted.tm_year = date.year - 1900;
    wanted.tm_mon = date.month - 1;
    wanted.tm_mday = date.day;
    wanted.tm_hour = minute / 60;
    wanted.tm_min = minute % 60;
    wanted.tm_isdst = isdst;
    const std::time_t at = std::mktime(&wanted);
    if (at == static_cast<std::time_t>(-1))
        return std::nullopt;
    int shown = 0;
    if (LocalDays(at, &shown) * kMinutesPerDay + shown != days * kMinutesPerDay + minute)
        return std::nullopt;
    return static_cast<std::int64_t>(at);
}

// The first instant the local clock shows `minute` of the day; in a gap,
// the first valid minute after it.
std::int64_t LocalInstant(std::int64_t days, int minute)
{
    for (int late = 0; late < kMinutesPerDay; ++late) {
        const std::optional<std::int64_t> standard = ExactInstant(days, minute + late, 0);
        const std::optional<std::int64_t> summer = ExactInstant(days, minute + late, 1);
        if (standard && summer)
            return std::min(*standard, *summer);
        if (standard || summer)
            return standard ? *standard : *summer;
    }
    // No clock skips a day; should one, the slot is empty.
    return days * 86400;
}

bool RunsOn(const TimetableSlot& slot, std::int64_t days)
{
    return (slot.days >> IsoWeekday(days) & 1u) != 0 && slot.offWeek != IsoWeekOfDays(days);
}

SlotOccurrence OccurrenceOn(const TimetableSlot& slot, std::int64_t days)
{
    const LocalDate date = DateOfDays(days);
    return {slot.id,
        std::to_string(slot.id) + "@" + std::to_string(date.year) + "-" + Padded(date.month, 2) + "-"
            + Padded(date.day, 2),
        LocalInstant(days, slot.start), LocalInstant(days, slot.end)};
}

const TimetableSlot* OverlappingSlot(const Timetable& timetable, const TimetableSlot& slot)
{
    for (const TimetableSlot& other : timetable.slots) {
        if (other.id != slot.id && (other.days & slot.days) != 0 && slot.start < other.end && other.start < slot.end)
            return &other;
    }
    return nullptr;
}

// "sets/<hex>.ini", as the page names a set's file: never a path elsewhere.
bool IsSetFile(const std::string& path)
{
    const std::string lead = "sets/";
    const std::string ending = ".ini";
    if (path.size() <= lead.size() + ending.size() || path.compare(0, lead.size(), lead) != 0
        || path.compare(path.size() - ending.size(), ending.size(), ending) != 0)
        return false;
    return path.find_first_not_of("0123456789abcdef", lead.size()) == path.size() - ending.size();
}

bool ReadDays(std::string_view text, unsigned& days)
{
    days = 0;
    for (const char c : text) {
        if (c >= '1' && c <= '7')
            days |= 1u << (c - '0');
        else if (c != ' ' && c != ',')
            return false;
    }
    return days != 0;
}

std::string ReadSlotKey(const std::string& key, std::string_view value, TimetableSlot& slot)
{
    long number = 0;
    if (key == "id")
        return ReadWholeNumber(value, 1, 999999, number) ? (slot.id = static_cast<int>(number), "")
                                                         : "id is a whole number from 1 to 999999";
    if (key == "days")
        return ReadDays(value, slot.days) ? "" : "days are weekdays from 1 (Monday) to 7 (Sunday)";
    if (key == "start" || key == "end")
        return ReadMinuteText(value, key == "start" ? slot.start : slot.end) ? "" : key + " is a time HH:MM";
    if (key == "set") {
        slot.set = value;
        return !slot.set.empty() && slot.set.size() <= kLongestSetName ? "" : "set is a lesson set's name";
    }
    if (key == "set-file") {
        slot.setFile = value;
        return IsSetFile(slot.setFile) ? "" : "set-file is sets/<hex>.ini";
    }
    if (key == "mode")
        return ReadClassroomMode(value, slot.mode) && slot.mode != ClassroomMode::Paused ? ""
                                                                                         : "mode is open or lesson";
    if (key == "off-week") {
        slot.offWeek = value;
        return slot.offWeek.size() == 8 && slot.offWeek[4] == '-' && slot.offWeek[5] == 'W' ? ""
                                                                                           : "off-week is YYYY-Www";
    }
    return "\"" + key + "\" is not a key of a slot";
}

} // namespace

bool ReadMinuteText(std::string_view text, int& minute)
{
    long hours = 0;
    long minutes = 0;
    if (text.size() != 5 || text[2] != ':' || text.find_first_not_of("0123456789:") != std::string_view::npos
        || !ReadWholeNumber(text.substr(0, 2), 0, 23, hours) || !ReadWholeNumber(text.substr(3), 0, 59, minutes))
        return false;
    minute = static_cast<int>(hours * 60 + minutes);
    return true;
}

std::string MinuteText(int minute)
{
    return Padded(minute / 60, 2) + ":" + Padded(minute % 60, 2);
}

std::string IsoWeekAt(std::int64_t nowSeconds)
{
    return IsoWeekOfDays(LocalDays(nowSeconds));
}

bool ParseTimetable(std::string_view text, Timetable& timetable, std::vector<std::string>& problems)
{
    timetable = Timetable();
    std::vector<TimetableSlot> read;
    std::vector<bool> faulty;
    const auto note = [&](int line, const std::string& problem) {
        problems.push_back(std::to_string(line) + ": " + problem);
        if (!faulty.empty())
            faulty.back() = true;
    };
    bool wellFormed = ReadSectionedText(
        text,
        [&](const SectionedLine& line) -> std::string {
            if (line.kind == SectionedLine::Kind::Section) {
                // A section of another name swallows its keys.
                read.emplace_back();
                read.back().line = line.number;
                faulty.push_back(line.name != "slot");
                return faulty.back() ? "[" + line.name + "] is no section of a timetable; each slot is a [slot]" : "";
            }
            if (read.empty())
                return "\"" + line.name + "\" stands before the first [slot]";
            return ReadSlotKey(line.name, line.value, read.back());
        },
        note);
    for (std::size_t i = 0; i < read.size(); ++i) {
        const TimetableSlot& slot = read[i];
        std::string problem;
        if (faulty[i])
            continue;
        if (slot.id == 0 || slot.days == 0 || slot.set.empty() || slot.setFile.empty())
            problem = "the slot needs id, days, start, end, set and set-file";
        else if (slot.start >= slot.end)
            problem = "the slot ends at " + MinuteText(slot.end) + ", not after its start " + MinuteText(slot.start);
        else if (const auto same = std::find_if(timetable.slots.begin(), timetable.slots.end(),
                     [&](const TimetableSlot& kept) { return kept.id == slot.id; });
                 same != timetable.slots.end())
            problem = "id " + std::to_string(slot.id) + " is the slot's at line " + std::to_string(same->line) + " too";
        else if (const TimetableSlot* other = OverlappingSlot(timetable, slot))
            problem = "slot " + std::to_string(slot.id) + " overlaps slot " + std::to_string(other->id) + " (line "
                + std::to_string(other->line) + ") and is left out";
        if (problem.empty())
            timetable.slots.push_back(slot);
        else
            problems.push_back(std::to_string(slot.line) + ": " + problem);
        wellFormed = wellFormed && problem.empty();
    }
    return wellFormed && std::find(faulty.begin(), faulty.end(), true) == faulty.end();
}

std::string TimetableText(const Timetable& timetable)
{
    std::string text = "# the timetable, written by kestrel-publish\n";
    for (const TimetableSlot& slot : timetable.slots) {
        std::string days;
        for (int day = 1; day <= 7; ++day) {
            if (slot.days >> day & 1u)
                days += (days.empty() ? "" : " ") + std::to_string(day);
        }
        text += "\n[slot]\nid = " + std::to_string(slot.id) + "\ndays = " + days + "\nstart = " + MinuteText(slot.start)
            + "\nend = " + MinuteText(slot.end) + "\nset = " + slot.set + "\nset-file = " + slot.setFile
            + "\nmode = " + ClassroomModeWord(slot.mode) + "\n" + (slot.offWeek.empty() ? "" : "off-week = " + slot.offWeek + "\n");
    }
    return text;
}

std::string TimetableOverlap(const Timetable& timetable, const TimetableSlot& slot)
{
    if (slot.days == 0)
        return "请至少选一天";
    if (slot.start >= slot.end)
        return "下课时间要晚于上课时间";
    if (const TimetableSlot* other = OverlappingSlot(timetable, slot))
        return "与" + other->set + "（" + MinuteText(other->start) + "–" + MinuteText(other->end) + "）时间重叠";
    return "";
}

std::optional<SlotOccurrence> SlotAt(const Timetable& timetable, std::int64_t nowSeconds)
{
    const std::int64_t today = LocalDays(nowSeconds);
    for (const TimetableSlot& slot : timetable.slots) {
        if (!RunsOn(slot, today))
            continue;
        SlotOccurrence occurrence = OccurrenceOn(slot, today);
        if (occurrence.startSeconds <= nowSeconds && nowSeconds < occurrence.endSeconds)
            return occurrence;
    }
    return std::nullopt;
}

std::int64_t LastSlotEnd(const Timetable& timetable, std::int64_t nowSeconds)
{
    const std::int64_t today = LocalDays(nowSeconds);
    for (std::int64_t days = today; days > today - kDaysLookedBack; --days) {
        std::int64_t last = 0;
        for (const TimetableSlot& slot : timetable.slots) {
            if (RunsOn(slot, days)) {
                const std::int64_t end = LocalInstant(days, slot.end);
                last = end <= nowSeconds ? std::max(last, end) : last;
            }
        }
        if (last != 0)
            return last;
    }
    return 0;
}

std::int64_t NextSlotChange(const Timetable& timetable, std::int64_t nowSeconds)
{
    const std::int64_t today = LocalDays(nowSeconds);
    std::int64_t next = 0;
    for (const TimetableSlot& slot : timetable.slots) {
        if (!RunsOn(slot, today))
            continue;
        const SlotOccurrence occurrence = OccurrenceOn(slot, today);
        for (const std::int64_t change : {occurrence.startSeconds, occurrence.endSeconds}) {
            if (change > nowSeconds && (next == 0 || change < next))
                next = change;
        }
    }
    return next;
}

} // namespace kestrel
