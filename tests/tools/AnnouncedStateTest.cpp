// The classroom state the announcer sends: its published file and how the
// options, the file and the pause's deadline decide what goes out.
#include "tools/AnnouncedState.h"
#include "tools/PublishedState.h"

#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/TemporaryFolder.h"

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

} // namespace
} // namespace kestrel
