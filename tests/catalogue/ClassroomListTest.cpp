#include "catalogue/AllowedHosts.h"
#include "catalogue/HomeUrl.h"
#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CataloguePasses.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/ListedState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

using Names = std::vector<std::string>;
using test::ListedState;

LinkRecord Lesson(const std::string& name)
{
    return test::LinkRecordBuilder(name).Url("http://127.0.0.1/" + name + ".html");
}

// A store and a catalogue, merged as the window does.
struct Classroom {
    Classroom() { HomeUrl().clear(); }
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

TEST(ClassroomListTest, LinksFollowTheList)
{
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE(c.what);
        Classroom room;
        room.Announce(c.before);
        room.Pass();
        room.catalogue.FollowList(ListedState(c.listed));
        EXPECT_EQ(room.Links(), c.atOnce);
        room.Announce(c.later);
        room.Pass();
        EXPECT_EQ(room.Links(), c.afterPass);
    }
}

TEST(ClassroomListTest, WithoutTheHomeFlagTheHomeRecordIsPassedOverAndTheAddressStays)
{
    Classroom room;
    room.store.AddRecord(test::LinkRecordBuilder("home").Url("http://127.0.0.1/home.html"));
    room.Pass();
    ClassroomState withoutHome = ListedState({});
    withoutHome.hasHome = false;
    room.catalogue.FollowList(withoutHome);
    room.store.AddRecord(test::LinkRecordBuilder("home").Url("http://127.0.0.1/other.html"));
    room.Pass();
    EXPECT_EQ(HomeUrl(), "http://127.0.0.1/home.html");
}

TEST(ClassroomListTest, TwoHundredNamesOverADayStillReachTheToolbar)
{
    Classroom room;
    // Ten lesson sets of twenty, each list trimming the store as the receiver does.
    for (int set = 0; set < 10; ++set) {
        Names names;
        for (int k = 0; k < kMaxLinks; ++k)
            names.push_back("set" + std::to_string(set) + "-" + std::to_string(k));
        const ClassroomState list = ListedState(names);
        room.catalogue.FollowList(list);
        room.store.KeepOnly(list.nameHashes.data(), list.linkCount);
        room.Announce(names);
        room.Pass();
        ASSERT_EQ(room.Links(), names) << "set " << set;
    }
}

struct HostCase {
    const char* host;
    bool allowed;
};

const HostCase kHostCases[] = {
    {"school.example", true},       {"a.b.school.example", true}, {"evilschool.example", false},
    {"school.example.evil", false}, {"10.0.0.7", true},           {"110.0.0.7", false},
    {"0.0.7", false},               {"cdn.videos.test", true},    {"", false},
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
    EXPECT_EQ(ReadExtraHosts("cdn.example 10.1.2.3 Upper.example xn--fiqs8s.example 300.1.1.1 a..b"),
              (Names{"cdn.example", "10.1.2.3", "xn--fiqs8s.example"}));
}

} // namespace
} // namespace kestrel
