#include "publish/PublishOptions.h"

#include "tests/support/CommandLine.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrel {
namespace {

class PublishOptionsTest : public ::testing::Test {
protected:
    bool Parse(std::vector<std::string> arguments)
    {
        test::CommandLine line("kestrel-publish", std::move(arguments));
        m_options = PublishOptions();
        m_error.clear();
        return ParsePublishOptions(line.Count(), line.Arguments(), m_options, m_error);
    }

    PublishOptions m_options;
    std::string m_error;
};

TEST_F(PublishOptionsTest, ByDefaultOnlyThisMachineReachesThePage)
{
    ASSERT_TRUE(Parse({})) << m_error;
    EXPECT_EQ(m_options.mode, PublishOptions::Mode::Serve);
    EXPECT_EQ(m_options.address, "127.0.0.1");
    EXPECT_TRUE(IsLoopbackAddress(m_options.address));
    EXPECT_EQ(m_options.hostName, "127.0.0.1");
    EXPECT_EQ(m_options.port, 8443);
    EXPECT_EQ(m_options.stateFolder, "/var/lib/kestrel");
    EXPECT_EQ(m_options.keyFolder, "/var/lib/kestrel-publish");
    EXPECT_EQ(m_options.onAirFolder, "");
    EXPECT_EQ(m_options.usersPath, "/etc/kestrel/publish-users");
    EXPECT_TRUE(m_options.certificatePath.empty());
    const std::string pictures = DefaultPictureUrl();
    EXPECT_EQ(pictures.rfind("http://", 0), 0u) << pictures;
    EXPECT_EQ(pictures.substr(pictures.size() - 15), ":8080/pictures/");
}

TEST_F(PublishOptionsTest, OpeningToTheNetworkNamesTheHostAndTheCertificate)
{
    ASSERT_TRUE(Parse({"--address", "192.168.1.10", "--host-name=announcer.school.lan", "--cert", "c.pem",
        "--cert-key", "k.pem", "--picture-url", "http://192.168.1.10:8080", "--idle-minutes", "10", "--key-folder",
        "/srv/keys", "--on-air=/run/kestrel", "--school-name", "实验小学"}))
        << m_error;
    EXPECT_EQ(m_options.keyFolder, "/srv/keys");
    EXPECT_EQ(m_options.onAirFolder, "/run/kestrel");
    EXPECT_FALSE(IsLoopbackAddress(m_options.address));
    EXPECT_EQ(m_options.hostName, "announcer.school.lan");
    EXPECT_EQ(m_options.certificatePath, "c.pem");
    EXPECT_EQ(m_options.certificateKeyPath, "k.pem");
    EXPECT_EQ(m_options.pictureUrl, "http://192.168.1.10:8080/");
    EXPECT_EQ(m_options.idleMinutes, 10);
    EXPECT_EQ(m_options.schoolName, "实验小学");
    ASSERT_TRUE(Parse({"--add-user", "anna", "--users", "u"})) << m_error;
    EXPECT_EQ(m_options.mode, PublishOptions::Mode::AddUser);
    EXPECT_EQ(m_options.userName, "anna");
    EXPECT_EQ(m_options.teacherRooms, "");
    // --rooms is the rooms file when serving, and the teacher's rooms with --add-user.
    ASSERT_TRUE(Parse({"--add-user", "bo", "--rooms", "r302,r303"}) && m_options.teacherRooms == "r302,r303");
    ASSERT_TRUE(Parse({"--admin", "--add-user", "it"}) && m_options.teacherRooms == "*");
    ASSERT_TRUE(Parse({"--rooms", "/etc/kestrel/rooms.ini"}) && m_options.roomsPath == "/etc/kestrel/rooms.ini");
}

TEST_F(PublishOptionsTest, NonsenseIsRefusedWithAReason)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--port", "0"}, "--port needs a port"},
        {{"--address", "school"}, "--address needs an IPv4 address"},
        {{"--cert", "c.pem"}, "--cert and --cert-key go together"},
        {{"--picture-url", "ftp://school/"}, "--picture-url needs an http:// or https:// address"},
        {{"--idle-minutes", "0"}, "--idle-minutes needs minutes"},
        {{"--state="}, "--state needs a value"},
        {{"--key-folder="}, "--key-folder needs a value"},
        {{"--help=yes"}, "--help takes no value"},
        {{"--users"}, "--users needs a value"},
        {{"--school-name", "a\nb"}, "--school-name needs a name of one line"},
        {{"--loud"}, "unknown option --loud"},
        {{"links.ini"}, "\"links.ini\" is not an option"},
        {{"--loud=yes"}, "unknown option --loud"},
        {{"--port", "--help"}, "--port needs a port from 1 to 65535, not \"--help\""},
        {{"--admin"}, "--admin goes with --add-user"},
        {{"--add-user", "it", "--admin", "--rooms", "r302"}, "--admin and --rooms do not go together"},
        {{"--add-user", "bo", "--rooms", "r302 r303"}, "--rooms with --add-user needs room ids"},
    };
    for (const auto& [arguments, words] : cases) {
        EXPECT_FALSE(Parse(arguments)) << words;
        EXPECT_NE(m_error.find(words), std::string::npos) << m_error;
    }
}

} // namespace
} // namespace kestrel
