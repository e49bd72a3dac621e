#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CataloguePasses.h"
#include "tests/support/LinkRecordBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using test::LinkRecordBuilder;
using Kind = CatalogueEffect::Kind;

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
    void SetUp() override
    {
        HomeUrl().clear();
        host.usable = [this](const std::string& url, std::size_t) { return brokenPictures.count(url) == 0; };
    }
    void TearDown() override { HomeUrl().clear(); }

    bool Pass() { return host.Pass(catalogue, store); }

    CLinkRecordStore store;
    test::CataloguePasses host;
    std::set<std::string> brokenPictures;
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
    brokenPictures.insert("http://127.0.0.1/music.bmp");
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
    brokenPictures.insert("http://127.0.0.1/music.bmp");
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
    brokenPictures.insert("");
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

// What the window is told, in the order it applies it.
struct Effect {
    Kind kind;
    int link;
    bool operator==(const Effect& other) const { return kind == other.kind && link == other.link; }
};

std::vector<Effect> Kinds(const CatalogueEffects& effects)
{
    std::vector<Effect> kinds;
    for (const CatalogueEffect& effect : effects)
        kinds.push_back({effect.kind, effect.link});
    return kinds;
}

TEST_F(LinkCatalogueTest, EffectsComeInStoreOrderWithEachVerdictAfterItsPass)
{
    store.AddRecord(Lesson("maths"));
    store.AddRecord(LinkRecordBuilder("home").Url("http://127.0.0.1/home.html"));
    store.AddRecord(Lesson("music"));
    Pass();
    LinkRecord changed = Lesson("maths");
    changed.caption[0] = 'C';
    store.AddRecord(changed);
    store.AddRecord(LinkRecordBuilder("home").Url("http://127.0.0.1/other.html"));
    store.AddRecord(Lesson("art"));
    Pass();
    Pass();

    EXPECT_EQ(Kinds(host.effects), (std::vector<Effect>{{Kind::LinkAdded, 1},
                                                        {Kind::OpenFirstLink, 1},
                                                        {Kind::HomeUrlSet, 0},
                                                        {Kind::LinkAdded, 2},
                                                        {Kind::PictureVerdict, 1},
                                                        {Kind::PictureVerdict, 2},
                                                        {Kind::LinkChanged, 1},
                                                        {Kind::HomeUrlSet, 0},
                                                        {Kind::LinkAdded, 3},
                                                        {Kind::PictureVerdict, 3}}));
    EXPECT_TRUE(host.effects[2].homeWasEmpty);
    EXPECT_FALSE(host.effects[7].homeWasEmpty);
    EXPECT_TRUE(host.effects[4].usable);
    EXPECT_EQ(HomeUrl(), "http://127.0.0.1/other.html");
}

TEST_F(LinkCatalogueTest, APassWaitsForThePictureTestsOfTheOneBefore)
{
    store.AddRecord(Lesson("maths"));
    EXPECT_EQ(Kinds(catalogue.Merge(store, true)), (std::vector<Effect>{{Kind::LinkAdded, 1}}));
    EXPECT_TRUE(catalogue.AwaitingPictureTest(1));

    // A caption changes and a new name comes while the test still runs:
    // nothing of it is taken before the verdict.
    LinkRecord changed = Lesson("maths");
    changed.caption[0] = 'C';
    store.AddRecord(changed);
    store.AddRecord(Lesson("music"));
    EXPECT_TRUE(catalogue.Merge(store, true).empty());
    EXPECT_EQ(catalogue.LinkCount(), 1);

    EXPECT_TRUE(catalogue.SettlePictureTest("http://127.0.0.1/other.bmp", false).empty());
    EXPECT_EQ(Kinds(catalogue.SettlePictureTest("http://127.0.0.1/maths.bmp", false)),
              (std::vector<Effect>{{Kind::PictureVerdict, 1}}));
    EXPECT_FALSE(catalogue.AwaitingPictureTests());
    EXPECT_TRUE(FieldText(catalogue.Link(1).hotPicture).empty());
    EXPECT_TRUE(catalogue.SettlePictureTest("http://127.0.0.1/maths.bmp", true).empty())
        << "a verdict counts once";

    // The pass after the verdict takes the record as received, pictures and caption.
    EXPECT_EQ(Kinds(catalogue.Merge(store, true)), (std::vector<Effect>{{Kind::LinkChanged, 1}, {Kind::LinkAdded, 2}}));
    EXPECT_EQ(FieldText(catalogue.Link(1).caption).front(), 'C');
    EXPECT_EQ(FieldText(catalogue.Link(1).hotPicture), "http://127.0.0.1/maths.bmp");
}

TEST_F(LinkCatalogueTest, OneTestAnswersEveryNewLinkWithThatPicture)
{
    store.AddRecord(Lesson("maths"));
    store.AddRecord(LinkRecordBuilder("music").HotPicture("http://127.0.0.1/maths.bmp").CoolPicture("http://127.0.0.1/c.bmp"));
    catalogue.Merge(store, true);
    EXPECT_EQ(Kinds(catalogue.SettlePictureTest("http://127.0.0.1/maths.bmp", false)),
              (std::vector<Effect>{{Kind::PictureVerdict, 1}, {Kind::PictureVerdict, 2}}));
    EXPECT_TRUE(FieldText(catalogue.Link(2).coolPicture).empty());
    EXPECT_FALSE(catalogue.AwaitingPictureTests());
}

TEST_F(LinkCatalogueTest, ALaterFailedTestOfTheSamePictureLeavesTheLinkThatPassedItsPictures)
{
    store.AddRecord(Lesson("maths"));
    Pass();
    // The picture breaks; a second link with the same picture comes.
    brokenPictures.insert("http://127.0.0.1/maths.bmp");
    store.AddRecord(LinkRecordBuilder("music").HotPicture("http://127.0.0.1/maths.bmp").CoolPicture("http://127.0.0.1/c.bmp"));
    Pass();
    EXPECT_EQ(Kinds(host.effects).back(), (Effect{Kind::PictureVerdict, 2}));
    EXPECT_TRUE(FieldText(catalogue.Link(2).coolPicture).empty());
    const LinkRecord maths = Lesson("maths");
    EXPECT_EQ(std::memcmp(&catalogue.Link(1), &maths, sizeof maths), 0) << "the first link keeps its pictures";
    EXPECT_EQ(Kinds(catalogue.Merge(store, true)), (std::vector<Effect>{{Kind::LinkChanged, 2}}))
        << "only the link whose test failed takes its record again";
}

} // namespace
} // namespace kestrel
