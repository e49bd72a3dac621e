// The timetable: its file, overlaps, and the slot at a given instant of the
// announcing machine's local time, across the changes of daylight saving.
#include "tools/Timetable.h"

#include "tests/support/ScopedTimeZone.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using test::UtcSeconds;

// Weekdays: Monday 2026-12-07 is in winter time, UTC+1 in Berlin.
constexpr const char* kWeek = "[slot]\nid = 1\ndays = 1 2 3 4 5\nstart = 08:00\nend = 08:45\nset = 语文\n"
                              "set-file = sets/e8afade69687.ini\nmode = lesson\n\n"
                              "[slot]\nid = 2\ndays = 1\nstart = 09:00\nend = 09:45\nset = 数学\n"
                              "set-file = sets/e695b0e5ada6.ini\nmode = open\noff-week = 2026-W51\n";

class TimetableTest : public ::testing::Test {
protected:
    TimetableTest()
    {
        std::vector<std::string> problems;
        EXPECT_TRUE(ParseTimetable(kWeek, m_week, problems)) << problems.front();
    }

    test::ScopedTimeZone m_berlin{"Europe/Berlin"};
    Timetable m_week;
};

TEST_F(TimetableTest, TheFileIsWrittenAsItIsReadAndEveryMistakeNamesItsLineWhileTheOtherSlotsStay)
{
    Timetable again;
    std::vector<std::string> problems;
    ASSERT_TRUE(ParseTimetable(TimetableText(m_week), again, problems));
    EXPECT_EQ(TimetableText(again), TimetableText(m_week));
    ASSERT_EQ(again.slots.size(), 2u);
    EXPECT_EQ(again.slots[1].offWeek, "2026-W51");

    const std::string good = "[slot]\nid = 9\ndays = 7\nstart = 10:00\nend = 11:00\nset = a\nset-file = sets/61.ini\n";
    // The good slot's seven lines stand first unless the fault must stand before it.
    const struct {
        std::string fault;
        std::string expected;
        bool first;
    } faults[] = {
        {"[slot]\nid = 0\n", "2: id is a whole number", true},
        {"[slot]\ndays = 8\n", "2: days are weekdays", true},
        {"[slot]\nstart = 8:00\n", "2: start is a time HH:MM", true},
        {"[slot]\nset-file = ../catalogue.ini\n", "2: set-file is sets/<hex>.ini", true},
        {"[slot]\nmode = paused\n", "2: mode is open or lesson", true},
        {"[lesson]\nid = 3\n", "1: [lesson] is no section", true},
        {"id = 3\n", "1: \"id\" stands before the first [slot]", true},
        {"[slot]\nid = 3\n", "1: the slot needs id, days", true},
        {"[slot]\nid = 3\ndays = 1\nstart = 09:00\nend = 08:00\nset = b\nset-file = sets/62.ini\n",
            "1: the slot ends at 08:00, not after its start 09:00", true},
        {"[slot]\nid = 9\ndays = 1\nstart = 09:00\nend = 10:00\nset = b\nset-file = sets/62.ini\n",
            "1: id 9 is the slot's at line 1 too", false},
        {"[slot]\nid = 3\ndays = 6 7\nstart = 10:30\nend = 11:30\nset = b\nset-file = sets/62.ini\n",
            "1: slot 3 overlaps slot 9 (line 1) and is left out", false},
    };
    for (const auto& [fault, expected, first] : faults) {
        Timetable timetable;
        problems.clear();
        EXPECT_FALSE(ParseTimetable(first ? fault + good : good + fault, timetable, problems)) << fault;
        ASSERT_EQ(problems.size(), 1u) << fault;
        const int shift = first ? 0 : 7;
        const std::string prefix = std::to_string(std::stoi(expected) + shift) + expected.substr(expected.find(':'));
        EXPECT_EQ(problems[0].rfind(prefix, 0), 0u) << problems[0];
        ASSERT_EQ(timetable.slots.size(), 1u) << fault;
        EXPECT_EQ(timetable.slots[0].id, 9);
    }
}

TEST_F(TimetableTest, OverlapsAreRefusedInTheTeachersWordsAndTouchingSlotsAreNot)
{
    TimetableSlot slot = m_week.slots[1];
    slot.id = 3;
    slot.days = 1u << 3;
    slot.start = 8 * 60 + 30;
    EXPECT_EQ(TimetableOverlap(m_week, slot), "与语文（08:00–08:45）时间重叠");
    slot.start = 8 * 60 + 45;
    EXPECT_EQ(TimetableOverlap(m_week, slot), "");
    slot.days = 0;
    EXPECT_EQ(TimetableOverlap(m_week, slot), "请至少选一天");
    // A slot edited in place is no overlap with itself.
    EXPECT_EQ(TimetableOverlap(m_week, m_week.slots[0]), "");
}

TEST_F(TimetableTest, TheSlotAtAnInstantStartsAndEndsOnTheLocalClockAndNotInItsOffWeek)
{
    const struct {
        std::int64_t at;
        const char* key; // "" for none
    } cases[] = {
        {UtcSeconds(2026, 12, 7, 6, 59, 59), ""},
        {UtcSeconds(2026, 12, 7, 7, 0), "1@2026-12-07"},
        {UtcSeconds(2026, 12, 7, 7, 44, 59), "1@2026-12-07"},
        {UtcSeconds(2026, 12, 7, 7, 45), ""},
        {UtcSeconds(2026, 12, 7, 8, 30), "2@2026-12-07"},
        {UtcSeconds(2026, 12, 12, 7, 30), ""},               // Saturday
        {UtcSeconds(2026, 12, 14, 8, 30), ""},               // W51, its off-week
        {UtcSeconds(2026, 12, 21, 8, 30), "2@2026-12-21"},
        {UtcSeconds(2026, 12, 15, 7, 30), "1@2026-12-15"},
    };
    for (const auto& [at, key] : cases) {
        const std::optional<SlotOccurrence> slot = SlotAt(m_week, at);
        EXPECT_EQ(slot ? slot->key : "", key) << at;
    }
    Timetable offWeek = m_week;
    offWeek.slots[1].offWeek = "2026-W50";
    EXPECT_FALSE(SlotAt(offWeek, UtcSeconds(2026, 12, 7, 8, 30)));
    EXPECT_EQ(IsoWeekAt(UtcSeconds(2026, 12, 7, 8, 30)), "2026-W50");

    const SlotOccurrence first = *SlotAt(m_week, UtcSeconds(2026, 12, 7, 7, 20));
    EXPECT_EQ(first.startSeconds, UtcSeconds(2026, 12, 7, 7, 0));
    EXPECT_EQ(first.endSeconds, UtcSeconds(2026, 12, 7, 7, 45));
    EXPECT_EQ(NextSlotChange(m_week, UtcSeconds(2026, 12, 7, 7, 20)), first.endSeconds);
    EXPECT_EQ(LastSlotEnd(m_week, UtcSeconds(2026, 12, 7, 8, 0)), first.endSeconds);
    // Saturday morning: Friday's last lesson was the last to end.
    EXPECT_EQ(LastSlotEnd(m_week, UtcSeconds(2026, 12, 12, 7, 0)), UtcSeconds(2026, 12, 11, 7, 45));
}

TEST_F(TimetableTest, ASpringStartInTheGapWaitsForTheFirstValidMinuteAndAnAutumnHourCountsTheFirstTime)
{
    Timetable sundays;
    std::vector<std::string> problems;
    // 2026-03-29: 02:00 CET becomes 03:00 CEST. 2026-10-25: 03:00 CEST becomes 02:00 CET.
    ASSERT_TRUE(ParseTimetable("[slot]\nid = 4\ndays = 7\nstart = 02:10\nend = 02:40\nset = a\n"
                               "set-file = sets/61.ini\n[slot]\nid = 5\ndays = 7\nstart = 02:45\nend = 03:05\n"
                               "set = b\nset-file = sets/62.ini\n",
        sundays, problems));
    const std::optional<SlotOccurrence> gap = SlotAt(sundays, UtcSeconds(2026, 3, 29, 1, 0));
    ASSERT_TRUE(gap);
    EXPECT_EQ(gap->key, "5@2026-03-29");
    EXPECT_EQ(gap->startSeconds, UtcSeconds(2026, 3, 29, 1, 0));
    EXPECT_EQ(gap->endSeconds, UtcSeconds(2026, 3, 29, 1, 5));
    // Wholly in the gap, slot 4 starts and ends at 03:00: it never runs.
    EXPECT_EQ(LastSlotEnd(sundays, UtcSeconds(2026, 3, 29, 1, 0)), UtcSeconds(2026, 3, 29, 1, 0));

    const std::optional<SlotOccurrence> twice = SlotAt(sundays, UtcSeconds(2026, 10, 25, 0, 20));
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->key, "4@2026-10-25");
    EXPECT_EQ(twice->startSeconds, UtcSeconds(2026, 10, 25, 0, 10));
    EXPECT_EQ(twice->endSeconds, UtcSeconds(2026, 10, 25, 0, 40));
    // The second 02:20 of the night is after it; the hour that repeats lies inside slot 5.
    EXPECT_EQ(SlotAt(sundays, UtcSeconds(2026, 10, 25, 1, 20))->key, "5@2026-10-25");
    EXPECT_EQ(SlotAt(sundays, UtcSeconds(2026, 10, 25, 1, 20))->startSeconds, UtcSeconds(2026, 10, 25, 0, 45));
}

} // namespace
} // namespace kestrel
