#include "catalogue/AllowedHosts.h"
#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CataloguePasses.h"
#include "tests/support/LinkRecordBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

using Names = std::vector<std::string>;

LinkRecord Lesson(const std::string& name)
{
    return test::LinkRecordBuilder(name).Url("http://127.0.0.1/" + name + ".html");
}

ClassroomState ListOf(const Names& names, bool hasHome = true)
{
    ClassroomState state;
    state.hasHome = hasHome;
    for (const std::string& name : names)
        state.nameHashes[state.linkCount++] = HashLinkName(name);
    return state;
}

class ClassroomListTest : public ::testing::Test {
protected:
    void SetUp() override { HomeUrl().clear(); }
    void TearDown() override { HomeUrl().clear(); }

    void Announce(const Names& names)
    {
        for (const std::string& name : names)
            store.AddRecord(Lesson(name));
    }
    void Pass() { host.Pass(catalogue, store); }
    Names Links() const
    {
        Names names;
        for (int k = 1; k <= catalogue.LinkCount(); ++k)
            names.emplace_back(FieldText(catalogue.Link(k).name));
        return names;
    }

    CLinkRecordStore store;
    test::CataloguePasses host;
    CLinkCatalogue catalogue;
};

// Links merged, then a list: what shows at once, then after the names
// announced later and a pass.
struct ListCase {
    const char* what;
    Names before;
    Names listed;
    Names atOnce;
    Names later;
    Names afterPass;
};

const ListCase kListCases[] = {
    {"unlisted links leave at once", {"maths", "music", "art"}, {"maths", "art"}, {"maths", "art"}, {}, {"maths", "art"}},
    {"order follows at the next pass", {"maths", "music", "art"}, {"art", "maths", "music"}, {"maths", "music", "art"}, {},
     {"art", "maths", "music"}},
    {"a listed name waits for its record", {"maths"}, {"history", "maths"}, {"maths"}, {"history"}, {"history", "maths"}},
    {"unlisted records are held without a button", {}, {"maths"}, {}, {"maths", "music"}, {"maths"}},
    {"names match in any letter case", {"MATHS"}, {"Maths"}, {"MATHS"}, {}, {"MATHS"}},
    {"an empty list empties the toolbar", {"maths", "music"}, {}, {}, {"art"}, {}},
};

class ListRuleTest : public ClassroomListTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListRuleTest, LinksFollowTheList)
{
    const ListCase& c = GetParam();
    Announce(c.before);
    Pass();
    catalogue.FollowList(ListOf(c.listed));
    EXPECT_EQ(Links(), c.atOnce);
    Announce(c.later);
    Pass();
    EXPECT_EQ(Links(), c.afterPass);
}

INSTANTIATE_TEST_SUITE_P(Rules, ListRuleTest, ::testing::ValuesIn(kListCases),
                         [](const ::testing::TestParamInfo<ListCase>& info) { return std::to_string(info.index); });

TEST_F(ClassroomListTest, WithoutTheHomeFlagTheHomeRecordIsPassedOverAndTheAddressStays)
{
    store.AddRecord(test::LinkRecordBuilder("home").Url("http://127.0.0.1/home.html"));
    Pass();
    catalogue.FollowList(ListOf({}, false));
    store.AddRecord(test::LinkRecordBuilder("home").Url("http://127.0.0.1/other.html"));
    Pass();
    EXPECT_EQ(HomeUrl(), "http://127.0.0.1/home.html");

    catalogue.FollowList(ListOf({}, true));
    Pass();
    EXPECT_EQ(HomeUrl(), "http://127.0.0.1/other.html");
    EXPECT_EQ(host.homeNavigations.size(), 1u);
}

TEST_F(ClassroomListTest, WhenTheListLapsesHeldRecordsAreAppended)
{
    Announce({"maths", "music"});
    Pass();
    catalogue.FollowList(ListOf({"music"}));
    Announce({"art"});
    Pass();
    catalogue.DropList();
    Pass();
    EXPECT_EQ(Links(), (Names{"music", "maths", "art"}));
}

TEST_F(ClassroomListTest, TwoHundredNamesOverADayStillReachTheToolbar)
{
    // Ten lesson sets of twenty names, each list trimming the store as the
    // receiver does.
    for (int set = 0; set < 10; ++set) {
        Names names;
        for (int k = 0; k < kMaxLinks; ++k)
            names.push_back("set" + std::to_string(set) + "-" + std::to_string(k));
        const ClassroomState list = ListOf(names);
        catalogue.FollowList(list);
        store.KeepOnly(list.nameHashes.data(), list.linkCount);
        Announce(names);
        Pass();
        ASSERT_EQ(Links(), names) << "set " << set;
    }
}

TEST_F(ClassroomListTest, TheFirstListedLinkOpensWhileNotNavigated)
{
    catalogue.FollowList(ListOf({"art", "maths"}));
    Announce({"maths", "art"});
    Pass();
    EXPECT_EQ(host.firstLinkOpenings, 1);
    EXPECT_EQ(Links(), (Names{"art", "maths"}));
    EXPECT_EQ(host.pictureBatches.size(), 1u);
}

struct HostCase {
    const char* host;
    bool allowed;
};

const HostCase kHostCases[] = {
    {"school.example", true},      {"www.school.example", true}, {"a.b.school.example", true},
    {"evilschool.example", false}, {"school.example.evil", false}, {"example", false},
    {"10.0.0.7", true},            {"110.0.0.7", false},          {"0.0.7", false},
    {"cdn.videos.test", true},     {"", false},
};

TEST(AllowedHostsTest, HostsMatchExactlyOrAsSubdomainsAndAddressesOnlyExactly)
{
    CAllowedHosts hosts;
    for (const char* allowed : {"school.example", "10.0.0.7", "videos.test"})
        hosts.Add(allowed);
    for (const HostCase& c : kHostCases)
        EXPECT_EQ(hosts.Allows(c.host), c.allowed) << c.host;
}

TEST(AllowedHostsTest, ExtraHostsKeepOnlyDnsNamesAndDottedAddresses)
{
    EXPECT_EQ(ReadExtraHosts("cdn.example 10.1.2.3 Upper.example xn--fiqs8s.example 300.1.1.1 a..b -x.example 1.2.3"),
              (Names{"cdn.example", "10.1.2.3", "xn--fiqs8s.example"}));
    EXPECT_TRUE(ReadExtraHosts("").empty());
}

} // namespace
} // namespace kestrel
