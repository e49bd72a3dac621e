// The classroom state the announcer sends: its published file and how the
// options, the file and the pause's deadline decide what goes out.
#include "tools/AnnouncedFiles.h"
#include "tools/AnnouncedState.h"
#include "tools/PublishedState.h"

#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/ScopedTimeZone.h"
#include "tests/support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace kestrel {
namespace {

constexpr std::int64_t kStartMs = 1796640000000;

TEST(PublishedStateTest, AFullFileIsReadAndEveryFaultNamesItsLine)
{
    PublishedState state;
    std::string problem;
    ASSERT_TRUE(ParsePublishedState("# written by kestrel-publish\n\nmode = paused\r\nhosts = a.org  b.org\n"
                                    "message = 看黑板\n; a comment\npause-id = 17\npause-until = 1796640060\n"
                                    "after-pause = lesson\n",
                                    state, problem))
        << problem;
    EXPECT_EQ(state.mode, ClassroomMode::Paused);
    EXPECT_EQ(state.hosts, "a.org  b.org");
    EXPECT_EQ(state.message, "\xBF\xB4\xBA\xDA\xB0\xE5");
    EXPECT_EQ(state.pauseId, 17u);
    EXPECT_EQ(state.pauseUntilSeconds, 1796640060);
    EXPECT_EQ(state.afterPause, ClassroomMode::LessonOnly);

    const std::pair<const char*, const char*> faults[] = {
        {"mode = shut\n", "line 1: mode is open, lesson or paused"},
        {"\ncolour = red\n", "line 2: \"colour\" is not a key"},
        {"mode\n", "line 1: \"mode\" is not a key"},
        {"mode = open\nmode = lesson\n", "line 2: mode is given twice"},
        {"pause-id = -1\n", "line 1: pause-id is a number"},
        {"pause-id = 4294967296\n", "line 1: pause-id is a number"},
        {"pause-until = soon\n", "line 1: pause-until is the seconds since 1970"},
        {"after-pause = paused\n", "line 1: after-pause is open or lesson"},
        {"message = \xFF\n", "line 1: the message must be UTF-8"},
    };
    for (const auto& [text, expected] : faults) {
        EXPECT_FALSE(ParsePublishedState(text, state, problem)) << text;
        EXPECT_EQ(problem.rfind(expected, 0), 0u) << problem;
    }
}

class AnnouncedStateTest : public ::testing::Test {
protected:
    AnnouncedStateTest()
    {
        m_catalogue.records[m_catalogue.count++] = test::LinkRecordBuilder("maths");
        m_catalogue.records[m_catalogue.count++] = test::LinkRecordBuilder("home");
        m_catalogue.records[m_catalogue.count++] = test::LinkRecordBuilder("Music");
        m_options.validForSeconds = 10;
        m_options.publishedStatePath = m_folder.Path() + "/state.ini";
    }
    // Polls and builds at `nowMs`, quietly.
    ClassroomState At(CAnnouncedState& state, std::int64_t nowMs)
    {
        testing::internal::CaptureStdout();
        state.Poll(nowMs);
        m_printed = testing::internal::GetCapturedStdout();
        return state.Build(m_catalogue, nowMs);
    }

    test::TemporaryFolder m_folder;
    AnnounceOptions m_options;
    AnnouncedRecords m_catalogue;
    std::string m_printed;
};

TEST_F(AnnouncedStateTest, APauseWithMinutesCountsDownRoundedUpThenGivesWayToTheMode)
{
    m_options.classroomMode = ClassroomMode::LessonOnly;
    m_options.pauseMinutes = 1;
    CAnnouncedState announced(m_options, kStartMs);
    ClassroomState state = At(announced, kStartMs + 1);
    EXPECT_EQ(state.mode, ClassroomMode::Paused);
    EXPECT_EQ(state.pauseCountdownSeconds, 60u);
    EXPECT_EQ(state.linkCount, 2);
    EXPECT_EQ(state.nameHashes[1], HashLinkName("music"));
    EXPECT_TRUE(state.hasHome);
    EXPECT_EQ(At(announced, kStartMs + 59999).pauseCountdownSeconds, 1u) << "the last second is not \"none\"";
    state = At(announced, kStartMs + 60000);
    EXPECT_EQ(state.mode, ClassroomMode::LessonOnly);
    EXPECT_EQ(state.pauseCountdownSeconds, 0u);
    EXPECT_EQ(m_printed, "classroom state: lesson, no extra hosts (from the options)\n");
}

TEST_F(AnnouncedStateTest, ThePublishedFileStandsInWhileItExistsButAnEndlessPauseIsNotTakenUpAtStart)
{
    m_folder.Write(m_options.publishedStatePath, "mode = paused\nmessage = 看黑板\nafter-pause = lesson\nhosts = a.org X\n");
    CAnnouncedState announced(m_options, kStartMs);
    EXPECT_EQ(At(announced, kStartMs).mode, ClassroomMode::LessonOnly);
    EXPECT_NE(m_printed.find("a pause without an end is not taken up again after a start"), std::string::npos);
    EXPECT_NE(m_printed.find("allowed host \"X\" skipped"), std::string::npos) << m_printed;

    m_folder.Write(m_options.publishedStatePath, "mode = paused\nmessage = 看黑板\npause-id = 4\nhosts = a.org\n");
    ClassroomState state = At(announced, kStartMs + 1000);
    EXPECT_EQ(state.mode, ClassroomMode::Paused) << "a pause published while running is sent";
    EXPECT_EQ(state.pauseId, 4u);
    EXPECT_STREQ(state.extraHosts, "a.org");

    m_folder.Write(m_options.publishedStatePath, "mode = lesson\nmode = open\n");
    EXPECT_EQ(At(announced, kStartMs + 2000).mode, ClassroomMode::Paused) << "a broken file keeps the last state";
    EXPECT_NE(m_printed.find("line 2: mode is given twice; the last valid state stays on the air"), std::string::npos);

    ASSERT_EQ(std::remove(m_options.publishedStatePath.c_str()), 0);
    EXPECT_EQ(At(announced, kStartMs + 3000).mode, ClassroomMode::Open) << "the options once the file is gone";
}

// A room's folder as the page leaves it: the standing catalogue, a lesson
// set and a timetable with one slot, Monday 2026-12-07 08:00-08:45 in Berlin.
class TimetableAnnouncerTest : public ::testing::Test {
protected:
    TimetableAnnouncerTest()
    {
        m_options.validForSeconds = 10;
        m_options.publishedPath = m_folder.Path() + "/catalogue.ini";
        m_options.publishedStatePath = m_folder.Path() + "/classroom-state.ini";
        m_folder.Write(m_options.publishedPath, Catalogue("standing"));
        std::filesystem::create_directories(m_folder.Path() + "/sets");
        m_folder.Write(m_folder.Path() + "/sets/61.ini", "# hosts: a.org\n" + Catalogue("yuwen"));
        m_folder.Write(m_folder.Path() + "/timetable.ini", "[slot]\nid = 1\ndays = 1\nstart = 08:00\nend = 08:45\n"
                                                           "set = 语文\nset-file = sets/61.ini\nmode = lesson\n");
    }
    static std::string Catalogue(const std::string& link)
    {
        return "[home]\nurl = http://127.0.0.1/\n[link]\nname = " + link + "\nurl = http://127.0.0.1/" + link + "\n";
    }
    static std::int64_t Berlin(int hour, int minute, int second = 0)
    {
        return test::UtcSeconds(2026, 12, 7, hour - 1, minute, second) * 1000;
    }
    // What goes out at nowMs: the link's hash, and the state.
    ClassroomState At(CAnnouncedFiles& files, CAnnouncedState& state, std::int64_t nowMs)
    {
        testing::internal::CaptureStdout();
        const AnnouncedRecords* catalogue = files.Poll(nowMs);
        state.Poll(nowMs, files.Lesson());
        m_printed = testing::internal::GetCapturedStdout();
        return catalogue ? state.Build(*catalogue, nowMs) : ClassroomState();
    }

    test::ScopedTimeZone m_berlin{"Europe/Berlin"};
    test::TemporaryFolder m_folder;
    AnnounceOptions m_options;
    std::string m_printed;
};

TEST_F(TimetableAnnouncerTest, ASlotPutsItsSetOnTheAirWithItsModeAndTheRoomIsOpenAgainAtItsEnd)
{
    m_folder.Write(m_options.publishedStatePath, "mode = lesson\nhosts = b.org\nset-at = "
        + std::to_string(Berlin(7, 0) / 1000) + "\n");
    CAnnouncedFiles files(m_options);
    CAnnouncedState state(m_options, Berlin(7, 0));
    const struct {
        std::int64_t atMs;
        const char* link;
        ClassroomMode mode;
        const char* hosts;
    } rounds[] = {
        {Berlin(7, 59, 59), "standing", ClassroomMode::LessonOnly, "b.org"},
        {Berlin(8, 0), "yuwen", ClassroomMode::LessonOnly, "a.org"},
        {Berlin(8, 44, 59), "yuwen", ClassroomMode::LessonOnly, "a.org"},
        {Berlin(8, 45), "standing", ClassroomMode::Open, ""},
    };
    for (const auto& [atMs, link, mode, hosts] : rounds) {
        const ClassroomState sent = At(files, state, atMs);
        EXPECT_EQ(sent.nameHashes[0], HashLinkName(link)) << atMs;
        EXPECT_EQ(sent.mode, mode) << atMs;
        EXPECT_STREQ(sent.extraHosts, hosts) << atMs;
    }
    EXPECT_NE(m_printed.find("ended after"), std::string::npos) << m_printed;

    // Started in mid-slot, the announcer puts the slot on the air at once.
    CAnnouncedFiles restarted(m_options);
    CAnnouncedState restartedState(m_options, Berlin(8, 30));
    EXPECT_EQ(At(restarted, restartedState, Berlin(8, 30)).nameHashes[0], HashLinkName("yuwen"));
    EXPECT_NE(m_printed.find("(the lesson 1@2026-12-07's set)"), std::string::npos) << m_printed;
    EXPECT_EQ(restarted.UntilTimetableChanges(Berlin(8, 44, 59) + 500), 500);
}

TEST_F(TimetableAnnouncerTest, WhatATeacherSetDuringTheSlotHoldsUntilItsEndOnly)
{
    CAnnouncedFiles files(m_options);
    CAnnouncedState state(m_options, Berlin(8, 0));
    m_folder.Write(m_folder.Path() + "/lesson.ini", "# lesson: 1@2026-11-30\n" + Catalogue("old"));
    EXPECT_EQ(At(files, state, Berlin(8, 10)).nameHashes[0], HashLinkName("yuwen")) << "last week's lesson.ini";

    m_folder.Write(m_folder.Path() + "/lesson.ini", "# lesson: 1@2026-12-07\n" + Catalogue("shuxue"));
    m_folder.Write(m_options.publishedStatePath, "mode = paused\npause-until = " + std::to_string(Berlin(8, 45) / 1000)
        + "\nafter-pause = lesson\nlesson = 1@2026-12-07\n");
    ClassroomState sent = At(files, state, Berlin(8, 20));
    EXPECT_EQ(sent.nameHashes[0], HashLinkName("shuxue"));
    EXPECT_EQ(sent.mode, ClassroomMode::Paused);
    EXPECT_EQ(sent.pauseCountdownSeconds, 25u * 60);

    sent = At(files, state, Berlin(8, 45));
    EXPECT_EQ(sent.nameHashes[0], HashLinkName("standing"));
    EXPECT_EQ(sent.mode, ClassroomMode::Open);
}

} // namespace
} // namespace kestrel
