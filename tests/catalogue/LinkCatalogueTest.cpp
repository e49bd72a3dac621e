#include "catalogue/CatalogueHost.h"
#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/LinkRecordBuilder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using test::LinkRecordBuilder;

// Records what the merge asks of the window.
class RecordingHost final : public CCatalogueHost {
public:
    void EnableStopAndRefresh() override { ++stopAndRefreshEnabled; }
    void NavigateHome() override { homeNavigations.push_back(HomeUrl()); }
    bool IsNavigated() const override { return navigated; }
    void OpenFirstLink() override
    {
        navigated = true;
        ++firstLinkOpenings;
    }
    std::vector<bool> TestPictures(const std::vector<std::string>& urls) override
    {
        pictureBatches.push_back(urls);
        std::vector<bool> usable;
        for (const std::string& url : urls)
            usable.push_back(brokenPictures.count(url) == 0);
        return usable;
    }
    void RebuildLinkButtons() override { ++rebuilds; }

    int TestedPictureCount() const
    {
        int count = 0;
        for (const auto& batch : pictureBatches)
            count += static_cast<int>(batch.size());
        return count;
    }

    bool navigated = false;
    int stopAndRefreshEnabled = 0;
    int firstLinkOpenings = 0;
    int rebuilds = 0;
    std::vector<std::string> homeNavigations;
    std::vector<std::vector<std::string>> pictureBatches;
    std::set<std::string> brokenPictures;
};

LinkRecord Lesson(const std::string& name)
{
    return LinkRecordBuilder(name)
        .Caption("caption of " + name)
        .Url("http://127.0.0.1/" + name + ".html")
        .HotPicture("http://127.0.0.1/" + name + ".bmp")
        .CoolPicture("http://127.0.0.1/" + name + "-cool.bmp");
}

class LinkCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override { HomeUrl().clear(); }
    void TearDown() override { HomeUrl().clear(); }

    bool Pass() { return catalogue.Merge(store, host); }

    CLinkRecordStore store;
    RecordingHost host;
    CLinkCatalogue catalogue;
};

TEST_F(LinkCatalogueTest, HomeRecordOpensTheHomePageOnceAndNeverBecomesALink)
{
    store.AddRecord(LinkRecordBuilder("HOME").Url("http://127.0.0.1/home.html"));

    EXPECT_FALSE(Pass());
    EXPECT_EQ(host.stopAndRefreshEnabled, 1);
    EXPECT_EQ(host.homeNavigations, std::vector<std::string>{"http://127.0.0.1/home.html"});
    EXPECT_EQ(catalogue.LinkCount(), 0);
    EXPECT_EQ(host.rebuilds, 0);

    Pass();
    EXPECT_EQ(host.homeNavigations.size(), 1u);

    store.AddRecord(LinkRecordBuilder("home").Url("http://127.0.0.1/other.html"));
    Pass();
    EXPECT_EQ(HomeUrl(), "http://127.0.0.1/other.html");
    EXPECT_EQ(host.homeNavigations.size(), 1u) << "a later home record changes the address silently";
}

TEST_F(LinkCatalogueTest, HomeRecordWithoutAddressOpensNothing)
{
    store.AddRecord(LinkRecordBuilder("home"));
    Pass();
    Pass();
    EXPECT_TRUE(HomeUrl().empty());
    EXPECT_EQ(host.stopAndRefreshEnabled, 2);
    EXPECT_EQ(host.homeNavigations, std::vector<std::string>(2, ""));

    store.AddRecord(LinkRecordBuilder("home").Url("http://127.0.0.1/late.html"));
    Pass();
    EXPECT_EQ(host.homeNavigations.back(), "http://127.0.0.1/late.html");
}

TEST_F(LinkCatalogueTest, FirstNewLinkOpensItselfUntilTheUserNavigated)
{
    store.AddRecord(LinkRecordBuilder("home").Url("http://127.0.0.1/home.html"));
    store.AddRecord(Lesson("maths"));
    EXPECT_TRUE(Pass());
    EXPECT_EQ(host.firstLinkOpenings, 1);

    store.AddRecord(Lesson("music"));
    Pass();
    EXPECT_EQ(host.firstLinkOpenings, 1) << "only the first link opens by itself";
    EXPECT_EQ(catalogue.LinkCount(), 2);
}

TEST_F(LinkCatalogueTest, NoLinkOpensItselfAfterTheUserNavigated)
{
    host.navigated = true;
    store.AddRecord(Lesson("maths"));
    EXPECT_TRUE(Pass());
    EXPECT_EQ(host.firstLinkOpenings, 0);
    EXPECT_EQ(host.rebuilds, 1);
}

TEST_F(LinkCatalogueTest, LinksKeepTheOrderOfFirstArrival)
{
    for (const char* name : {"maths", "music", "art"})
        store.AddRecord(Lesson(name));
    Pass();
    store.AddRecord(Lesson("history"));
    Pass();

    ASSERT_EQ(catalogue.LinkCount(), 4);
    EXPECT_EQ(FieldText(catalogue.Link(1).name), "maths");
    EXPECT_EQ(FieldText(catalogue.Link(3).name), "art");
    EXPECT_EQ(FieldText(catalogue.Link(4).name), "history");
    EXPECT_EQ(host.rebuilds, 2);
}

TEST_F(LinkCatalogueTest, UnchangedRecordsCostNeitherRebuildNorFetch)
{
    store.AddRecord(Lesson("maths"));
    Pass();
    const int rebuilds = host.rebuilds;
    const int tested = host.TestedPictureCount();

    EXPECT_FALSE(Pass());
    EXPECT_FALSE(Pass());
    EXPECT_EQ(host.rebuilds, rebuilds);
    EXPECT_EQ(host.TestedPictureCount(), tested);
}

TEST_F(LinkCatalogueTest, AnyChangedByteRebuildsOnceWithoutANewLink)
{
    store.AddRecord(Lesson("maths"));
    Pass();

    LinkRecord captionChanged = Lesson("maths");
    captionChanged.caption[0] = 'C';
    store.AddRecord(captionChanged);
    EXPECT_TRUE(Pass());
    EXPECT_EQ(FieldText(catalogue.Link(1).caption).front(), 'C');

    LinkRecord reservedChanged = captionChanged;
    reservedChanged.reserved = 7;
    store.AddRecord(reservedChanged);
    EXPECT_TRUE(Pass());

    EXPECT_EQ(catalogue.LinkCount(), 1);
    EXPECT_EQ(host.rebuilds, 3);
    EXPECT_EQ(host.TestedPictureCount(), 1) << "a replaced link is taken as received, without a test";
}

TEST_F(LinkCatalogueTest, NameInOtherLetterCaseReplacesTheLinkAndItsLabel)
{
    store.AddRecord(Lesson("maths"));
    Pass();
    store.AddRecord(Lesson("MATHS"));
    EXPECT_TRUE(Pass());
    ASSERT_EQ(catalogue.LinkCount(), 1);
    EXPECT_EQ(FieldText(catalogue.Link(1).name), "MATHS");
}

TEST_F(LinkCatalogueTest, NewLinksOfOnePassAreTestedInOneBatch)
{
    for (const char* name : {"maths", "music", "art"})
        store.AddRecord(Lesson(name));
    Pass();
    ASSERT_EQ(host.pictureBatches.size(), 1u);
    EXPECT_EQ(host.pictureBatches[0],
              (std::vector<std::string>{"http://127.0.0.1/maths.bmp", "http://127.0.0.1/music.bmp",
                                        "http://127.0.0.1/art.bmp"}));
}

TEST_F(LinkCatalogueTest, FailedPictureTestEmptiesBothPicturesOfThatLinkOnly)
{
    host.brokenPictures.insert("http://127.0.0.1/music.bmp");
    for (const char* name : {"maths", "music", "art"})
        store.AddRecord(Lesson(name));
    Pass();

    EXPECT_EQ(FieldText(catalogue.Link(1).hotPicture), "http://127.0.0.1/maths.bmp");
    EXPECT_TRUE(FieldText(catalogue.Link(2).hotPicture).empty());
    EXPECT_TRUE(FieldText(catalogue.Link(2).coolPicture).empty());
    EXPECT_EQ(FieldText(catalogue.Link(3).coolPicture), "http://127.0.0.1/art-cool.bmp");
}

TEST_F(LinkCatalogueTest, PicturesOfAFailedTestComeBackOnceForTheNextRebuild)
{
    host.brokenPictures.insert("http://127.0.0.1/music.bmp");
    store.AddRecord(Lesson("music"));
    EXPECT_TRUE(Pass());
    EXPECT_TRUE(FieldText(catalogue.Link(1).hotPicture).empty());

    // The record as received replaces the link without a second test, and
    // the rebuild tries its pictures again; then nothing changes any more.
    EXPECT_TRUE(Pass());
    EXPECT_EQ(FieldText(catalogue.Link(1).hotPicture), "http://127.0.0.1/music.bmp");
    EXPECT_EQ(host.TestedPictureCount(), 1);
    EXPECT_FALSE(Pass());
    EXPECT_FALSE(Pass());
    EXPECT_EQ(host.rebuilds, 2);
}

TEST_F(LinkCatalogueTest, EmptyPictureAddressFailsItsTest)
{
    host.brokenPictures.insert("");
    store.AddRecord(LinkRecordBuilder("maths").CoolPicture("http://127.0.0.1/cool.bmp"));
    Pass();
    EXPECT_TRUE(FieldText(catalogue.Link(1).coolPicture).empty());
}

TEST_F(LinkCatalogueTest, TwentyFirstNameGetsNothingInAnyPass)
{
    for (int i = 1; i <= 25; ++i)
        store.AddRecord(Lesson("lesson" + std::to_string(i)));
    Pass();
    // The window's twenty buttons, counted here rather than read from the
    // constant, so a changed limit fails.
    EXPECT_EQ(catalogue.LinkCount(), 20);
    EXPECT_EQ(host.TestedPictureCount(), 20);
    EXPECT_EQ(FieldText(catalogue.Link(20).name), "lesson20");

    EXPECT_FALSE(Pass());
    EXPECT_EQ(catalogue.LinkCount(), 20);
    EXPECT_EQ(host.TestedPictureCount(), 20);
    EXPECT_EQ(host.rebuilds, 1);
}

TEST_F(LinkCatalogueTest, NamesFillingTheirWholeFieldStayStable)
{
    const std::string longName(128, 'x');
    store.AddRecord(Lesson(longName));
    Pass();
    EXPECT_FALSE(Pass()) << "a record that did not change never looks changed";
    EXPECT_EQ(FieldText(catalogue.Link(1).name), longName);
}

} // namespace
} // namespace kestrel
