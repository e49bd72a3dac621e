#include "publish/PublishStore.h"

#include "base/GbkText.h"
#include "publish/ClassroomStateFile.h"

#include "base/WholeFile.h"
#include "tests/support/TemporaryFolder.h"
#include "tools/CatalogueParser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace kestrel {
namespace {

class PublishStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_store.Open(), ""); }

    static CatalogueEdit Lesson(const std::string& first, const std::string& second)
    {
        return {"http://school/", {{first, "", "http://school/" + first, "", ""}, {second, "", "http://school/" + second, "", ""}}};
    }

    // What the announcer would announce from the state folder.
    AnnouncedRecords Announced()
    {
        std::string text;
        EXPECT_EQ(ReadWholeFile(m_store.CataloguePath(), 1 << 20, text).state, WholeFileRead::State::Loaded);
        AnnouncedRecords records;
        CatalogueProblem problem;
        EXPECT_TRUE(CCatalogueParser().Parse(text, records, problem)) << CatalogueProblemText(problem);
        return records;
    }

    test::TemporaryFolder m_folder;
    std::string m_firstCataloguePath = m_folder.Path() + "/catalogue.ini";
    // Missing until a test writes into it, as before the announcer's first start.
    std::string m_onAirFolder = m_folder.Path() + "/run";
    CPublishStore m_store{m_folder.Path() + "/state", m_firstCataloguePath, m_onAirFolder};
};

TEST_F(PublishStoreTest, APublishIsWhatTheAnnouncerReadsAndIsKeptWithItsTeacher)
{
    ASSERT_EQ(m_store.PublishEdit(Lesson("a", "b"), "anna"), "");
    const AnnouncedRecords records = Announced();
    ASSERT_EQ(records.count, 3);
    EXPECT_EQ(FieldText(records.records[1].name), "a");
    EXPECT_EQ(FieldText(records.records[2].name), "b");
    const auto history = m_store.History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].user, "anna");
    EXPECT_EQ(m_store.Published().links.size(), 2u);
}

TEST_F(PublishStoreTest, BeforeTheFirstPublishTheEditStartsFromTheCatalogueOnTheAir)
{
    m_folder.Write(m_firstCataloguePath, "[home]\nurl = http://school/\n[link]\nname = 语文\npicture = http://school/hot.bmp\n"
                                "cool-picture = http://school/cool.bmp\n");
    CatalogueEdit edit = m_store.Published();
    EXPECT_EQ(edit.home, "http://school/");
    ASSERT_EQ(edit.links.size(), 1u);
    EXPECT_EQ(edit.links[0].coolPicture, "http://school/cool.bmp");
    edit.links.push_back({"数学", "", "http://school/maths", "", ""});
    ASSERT_EQ(m_store.PublishEdit(edit, "anna"), "");
    const AnnouncedRecords records = Announced();
    ASSERT_EQ(records.count, 3);
    EXPECT_EQ(FieldText(records.records[1].coolPicture), "http://school/cool.bmp");
    m_folder.Write(m_firstCataloguePath, "[link]\nname = other\n");
    EXPECT_EQ(m_store.Published().links.size(), 2u) << "once published, the publish is what is on the air";
}

// The published file malformed, the announcer keeps the last valid catalogue
// on the air: the page shows that, not the catalogue before the first publish.
TEST_F(PublishStoreTest, ThePageShowsWhatTheAnnouncerSaysIsOnTheAir)
{
    m_folder.Write(m_firstCataloguePath, "[link]\nname = etc\n");
    m_folder.Write(m_store.CataloguePath(), "[link]\nname = a\n[link]\nname = A\n");
    ASSERT_EQ(::mkdir(m_onAirFolder.c_str(), 0700), 0);
    m_folder.Write(m_onAirFolder + "/on-air.ini", CatalogueEditText(Lesson("a", "b")));
    m_folder.Write(m_onAirFolder + "/on-air.status",
        "source=" + m_store.CataloguePath() + "\nrefused=line 4: the name \"A\" is already used\n");
    const CPublishStore::OnAir onAir = m_store.WhatIsOnAir();
    EXPECT_EQ(onAir.edit.links.at(1).name, "b");
    EXPECT_EQ(onAir.source, m_store.CataloguePath());
    EXPECT_EQ(onAir.refusal, "line 4: the name \"A\" is already used");
    m_folder.Write(m_onAirFolder + "/on-air.status", "");
    EXPECT_EQ(m_store.WhatIsOnAir().source, m_firstCataloguePath) << "no source named: the files tell";
    EXPECT_EQ(m_store.Published().links.at(0).name, "etc");
}

TEST_F(PublishStoreTest, ARefusedEditLeavesThePublishedCatalogueAsItWas)
{
    ASSERT_EQ(m_store.PublishEdit(Lesson("a", "b"), "anna"), "");
    EXPECT_NE(m_store.PublishEdit(Lesson("a", "A"), "anna"), "");
    EXPECT_EQ(FieldText(Announced().records[2].name), "b");
    EXPECT_EQ(m_store.History().size(), 1u);
}

TEST_F(PublishStoreTest, AnEarlierVersionIsPublishedAgainNewestFirst)
{
    ASSERT_EQ(m_store.PublishEdit(Lesson("a", "b"), "anna"), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(m_store.PublishEdit(Lesson("c", "d"), "bo"), "");
    auto history = m_store.History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].user, "bo");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(m_store.Republish(history[1].id, "carl"), "");
    EXPECT_EQ(FieldText(Announced().records[1].name), "a");
    history = m_store.History();
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0].user, "carl");
    for (const char* id : {"../catalogue", "1-../../x", "", "abc-anna"})
        EXPECT_NE(m_store.Republish(id, "carl"), "") << id;
}

TEST_F(PublishStoreTest, LessonSetsAreSavedByNameAndPublishedInOneStep)
{
    ASSERT_EQ(m_store.SaveSet("三年级 语文/第1课", Lesson("x", "y")), "");
    ASSERT_EQ(m_store.SaveSet("数学", Lesson("m", "n")), "");
    const auto sets = m_store.Sets();
    ASSERT_EQ(sets.size(), 2u);
    ASSERT_EQ(m_store.PublishSet("三年级 语文/第1课", "anna"), "");
    EXPECT_EQ(FieldText(Announced().records[1].name), "x");
    EXPECT_NE(m_store.PublishSet("英语", "anna"), "");
    EXPECT_NE(m_store.SaveSet("", Lesson("x", "y")), "");
    EXPECT_NE(m_store.SaveSet("bad", Lesson("x", "X")), "");
}

// The state file as the announcer reads it.
PublishedState ReadStateFile(const std::string& path)
{
    std::string text;
    std::string problem;
    PublishedState state;
    EXPECT_EQ(ReadWholeFile(path, 1 << 14, text).state, WholeFileRead::State::Loaded);
    EXPECT_TRUE(ParsePublishedState(text, state, problem)) << problem;
    return state;
}

TEST_F(PublishStoreTest, TheHostsGoOnTheAirInTheStateFileAndStayWithSetsAndHistory)
{
    CatalogueEdit edit = Lesson("a", "b");
    edit.hosts = "cdn.school.cn 10.0.0.5";
    ASSERT_EQ(m_store.PublishEdit(edit, "anna"), "");
    EXPECT_EQ(ReadStateFile(m_store.StatePath()).hosts, edit.hosts);
    EXPECT_EQ(Announced().count, 3) << "the catalogue holds no hosts";
    ASSERT_EQ(m_store.SaveSet("周一", edit), "");
    EXPECT_EQ(m_store.Sets().at(0).edit.hosts, edit.hosts);
    CatalogueEdit version;
    ASSERT_EQ(m_store.Version(m_store.History().at(0).id, version), "");
    EXPECT_EQ(version.hosts, edit.hosts);
}

TEST_F(PublishStoreTest, EachPauseHasANewNumberAlsoAfterTheStoreStartsAgain)
{
    const std::int64_t now = 1796640000;
    ASSERT_EQ(m_store.SetMode(ClassroomMode::LessonOnly, "", 0, now), "");
    ASSERT_EQ(m_store.SetMode(ClassroomMode::Paused, "请看黑板", 5, now), "");
    const PublishedState paused = ReadStateFile(m_store.StatePath());
    EXPECT_EQ(GbkToUtf8(paused.message), "请看黑板");
    EXPECT_EQ(ModeOnTheAir(paused, now + 299), ClassroomMode::Paused);
    EXPECT_EQ(ModeOnTheAir(paused, now + 300), ClassroomMode::LessonOnly) << "the mode before, by itself";
    CPublishStore again(m_folder.Path() + "/state", m_firstCataloguePath);
    ASSERT_EQ(again.Open(), "");
    ASSERT_EQ(again.SetMode(ClassroomMode::Paused, "", 0, now), "");
    EXPECT_GT(again.Classroom().pauseId, paused.pauseId);
    EXPECT_EQ(again.Classroom().afterPause, ClassroomMode::LessonOnly) << "a pause over a pause";
}

} // namespace
} // namespace kestrel
