#include "tools/CatalogueWatcher.h"

#include "tests/support/TemporaryFolder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace kestrel {
namespace {

class CatalogueWatcherTest : public ::testing::Test {
protected:
    CatalogueWatcherTest() : m_path(m_folder.Path() + "/catalogue.ini"), m_watcher(m_path) {}

    std::string LinkNames() const
    {
        std::string names;
        const AnnouncedRecords& records = m_watcher.Catalogue();
        for (int i = 0; i < records.count; ++i)
            names += std::string(FieldText(records.records[i].name)) + ";";
        return names;
    }

    test::TemporaryFolder m_folder;
    std::string m_path;
    CCatalogueWatcher m_watcher;
};

TEST_F(CatalogueWatcherTest, ReadsTheFileOnceUntilItChanges)
{
    m_folder.Write(m_path, "[link]\nname = a\n");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Loaded);
    EXPECT_EQ(LinkNames(), "a;");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::None);
    m_folder.Write(m_path, "[link]\nname = a\n");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::None) << "saved, but not changed";

    m_folder.Write(m_path, "[link]\nname = a\n[link]\nname = b\n");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Loaded);
    EXPECT_EQ(LinkNames(), "a;b;");
}

TEST_F(CatalogueWatcherTest, BrokenEditKeepsTheLastValidCatalogue)
{
    m_folder.Write(m_path, "[link]\nname = a\n");
    ASSERT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Loaded);

    m_folder.Write(m_path, "[link]\nname = a\nlabel = oops\n");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Refused);
    EXPECT_EQ(m_watcher.Problem(), m_path + ":3: unknown key \"label\" in [link]; it takes name, caption, url, "
                                            "picture and cool-picture");
    EXPECT_TRUE(m_watcher.HasCatalogue());
    EXPECT_EQ(LinkNames(), "a;");
    EXPECT_EQ(m_watcher.Text(), "[link]\nname = a\n");
    // The same broken file is not reported again at every look.
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::None);

    m_folder.Write(m_path, "[link]\nname = c\n");
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Loaded);
    EXPECT_EQ(LinkNames(), "c;");
}

TEST_F(CatalogueWatcherTest, AFileTakenAwayKeepsOrForgetsItsCatalogueAsAsked)
{
    CCatalogueWatcher forgetting(m_path, CCatalogueWatcher::WhenMissing::ForgetIt);
    m_folder.Write(m_path, "[link]\nname = a\n");
    ASSERT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Loaded);
    ASSERT_EQ(forgetting.Poll(), CCatalogueWatcher::Change::Loaded);

    ASSERT_EQ(std::remove(m_path.c_str()), 0);
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Refused);
    EXPECT_EQ(forgetting.Poll(), CCatalogueWatcher::Change::Refused);
    EXPECT_TRUE(m_watcher.HasCatalogue());
    EXPECT_FALSE(forgetting.HasCatalogue());
    EXPECT_EQ(forgetting.Text(), "");
}

TEST_F(CatalogueWatcherTest, MissingFileIsReportedAndNothingIsHeld)
{
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Refused);
    EXPECT_EQ(m_watcher.Problem(), m_path + ": cannot be read: No such file or directory");
    EXPECT_FALSE(m_watcher.HasCatalogue());
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::None);
}

TEST_F(CatalogueWatcherTest, OversizedFileIsRefusedUnparsed)
{
    m_folder.Write(m_path, "[link]\nname = a\n" + std::string(CCatalogueWatcher::kLargestFile, '#'));
    EXPECT_EQ(m_watcher.Poll(), CCatalogueWatcher::Change::Refused);
    EXPECT_NE(m_watcher.Problem().find("larger than 1 MiB"), std::string::npos);
}

} // namespace
} // namespace kestrel
