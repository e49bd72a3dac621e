// rooms.ini: every mistake named by file and line, the room with it left
// out and the others kept.

#include "tests/support/TemporaryFolder.h"

#include "tools/RoomsFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel {
namespace {

constexpr int kReportPort = 9099;

// Lines 1 to 5: a good room every case keeps.
const std::string kGoodRoom = "[room]\nid = r301\nname = 三年一班\nport = 9301\nto = 239.255.93.1\n";
// Lines 6 to 9, with line LINE of the case below them.
const std::string kSecondRoom = "[room]\nid = r302\nport = 9302\nto = 239.255.93.2\n";

class RoomsFileTest : public ::testing::Test {
protected:
    RoomsRead Read(const std::string& text)
    {
        m_folder.Write(m_path, text);
        return ReadRoomsFile(m_path, kReportPort);
    }

    test::TemporaryFolder m_folder;
    std::string m_path = m_folder.Path() + "/rooms.ini";
};

TEST_F(RoomsFileTest, EveryMistakeIsNamedByLineAndOnlyItsRoomIsLeftOut)
{
    const std::string leftOut = ":6: room left out for its mistake";
    const std::string thirtyThree(33 * 3, 'a');
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {kSecondRoom + "colour = red\n", {":10: unknown key \"colour\"", leftOut}},
        {kSecondRoom + "port = 9303\n", {":10: \"port\" given twice", leftOut}},
        {kSecondRoom + "ttl = 0\n", {":10: ttl must be 1 to 255", leftOut}},
        {kSecondRoom + "from =\n", {":10: from must name a card or a local address", leftOut}},
        {kSecondRoom + "name = " + thirtyThree + "\n", {":10: name too long", leftOut}},
        {kSecondRoom + "port 9303\n", {":10: not \"key = value\"", leftOut}},
        {"[room]\nid = R302\nport = 9302\nto = 239.255.93.2\n",
            {":7: id must be 1 to 32 of a-z, 0-9, \"_\" and \"-\"", leftOut}},
        {"[room]\nid = r302\nport = 70000\nto = 239.255.93.2\n", {":8: port must be 1 to 65535", leftOut}},
        {"[room]\nid = r302\nport = 9099\nto = 239.255.93.2\n", {":8: port 9099 is the report port", leftOut}},
        {"[room]\nid = r302\nport = 9302\nto = 239.255.93\n", {":9: to must be an IPv4 address", leftOut}},
        {"[room]\nid = r302\nport = 9302\n", {":6: the room has no \"to\""}},
        {"[room]\nid = r302\nport = 9301\nto = 239.255.93.2\n", {":6: port 9301 is room r301's already"}},
        {"[room]\nid = r301\nport = 9302\nto = 239.255.93.2\n", {":6: id r301 is the room's on line 1"}},
        {"[rooms]\n", {":6: unknown section [rooms]; rooms are [room] sections"}},
    };
    for (const auto& [text, expected] : cases) {
        const RoomsRead read = Read(kGoodRoom + text);
        std::vector<std::string> problems;
        for (const std::string& problem : expected)
            problems.push_back(m_path + problem);
        EXPECT_EQ(read.problems, problems) << text;
        ASSERT_EQ(read.rooms.size(), 1u) << text;
        EXPECT_EQ(read.rooms[0].id, "r301");
    }
}

TEST_F(RoomsFileTest, GoodRoomsKeepTheirOrderAndSettings)
{
    const RoomsRead read = Read("\xEF\xBB\xBF# rooms\n" + kGoodRoom + "ttl = 3\nfrom = eth1\n\n" + kSecondRoom);
    EXPECT_TRUE(read.found);
    EXPECT_TRUE(read.problems.empty());
    ASSERT_EQ(read.rooms.size(), 2u);
    const RoomSettings& first = read.rooms[0];
    EXPECT_EQ(first.name, "三年一班");
    EXPECT_EQ(first.port, 9301);
    EXPECT_EQ(first.to, "239.255.93.1");
    EXPECT_EQ(first.from, "eth1");
    EXPECT_EQ(first.ttl, 3);
    EXPECT_EQ(first.line, 2);
    EXPECT_EQ(read.rooms[1].name, "r302") << "a room without a name is shown by its id";
    EXPECT_EQ(read.rooms[1].ttl, 1);
    EXPECT_EQ(read.rooms[1].from, "");
}

TEST_F(RoomsFileTest, NoFileIsOneRoomAndAFileThatCannotBeReadIsNamed)
{
    EXPECT_FALSE(ReadRoomsFile(m_folder.Path() + "/missing.ini", kReportPort).found);
    std::filesystem::create_directory(m_path);
    const RoomsRead read = ReadRoomsFile(m_path, kReportPort);
    EXPECT_TRUE(read.found);
    EXPECT_TRUE(read.rooms.empty());
    EXPECT_EQ(read.problems, std::vector<std::string>{m_path + ": not a file"});
}

} // namespace
} // namespace kestrel
