#include "tools/AnnounceOptions.h"

#include "tests/support/CommandLine.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrel {
namespace {

class AnnounceOptionsTest : public ::testing::Test {
protected:
    bool Parse(std::vector<std::string> arguments)
    {
        test::CommandLine line("kestrel-announce", std::move(arguments));
        m_options = AnnounceOptions();
        m_error.clear();
        return ParseAnnounceOptions(line.Count(), line.Arguments(), m_options, m_error);
    }

    AnnounceOptions m_options;
    std::string m_error;
};

TEST_F(AnnounceOptionsTest, CatalogueAloneBroadcastsOnTheDefaultChannel)
{
    ASSERT_TRUE(Parse({"links.ini"})) << m_error;
    EXPECT_EQ(m_options.mode, AnnounceOptions::Mode::Announce);
    EXPECT_EQ(m_options.cataloguePath, "links.ini");
    EXPECT_EQ(m_options.toAddress, "255.255.255.255");
    EXPECT_EQ(m_options.port, 9000);
    EXPECT_DOUBLE_EQ(m_options.intervalSeconds, 2.0);
    EXPECT_FALSE(m_options.once);
    EXPECT_EQ(m_options.ttl, 1);
}

TEST_F(AnnounceOptionsTest, AGroupIsSentToWithItsHopLimitAndListenedOn)
{
    ASSERT_TRUE(Parse({"--to", "239.255.90.0", "--ttl=3", "--from", "eth1", "c.ini"})) << m_error;
    EXPECT_EQ(m_options.toAddress, "239.255.90.0");
    EXPECT_EQ(m_options.ttl, 3);
    EXPECT_EQ(m_options.from, "eth1");
    ASSERT_TRUE(Parse({"--listen", "--group", "239.255.90.0", "--from", "eth1"})) << m_error;
    EXPECT_EQ(m_options.mode, AnnounceOptions::Mode::Listen);
    EXPECT_EQ(m_options.group, "239.255.90.0");
}

TEST_F(AnnounceOptionsTest, EveryOptionTakesItsValueInEitherForm)
{
    ASSERT_TRUE(Parse({"--to", "127.0.0.1", "--port=9100", "--interval", "0.5", "--once", "--from=eth0",
        "--serve", "demo", "--http-port", "8081", "--http-address=127.0.0.1", "c.ini"}))
        << m_error;
    EXPECT_EQ(m_options.toAddress, "127.0.0.1");
    EXPECT_EQ(m_options.port, 9100);
    EXPECT_DOUBLE_EQ(m_options.intervalSeconds, 0.5);
    EXPECT_TRUE(m_options.once);
    EXPECT_EQ(m_options.from, "eth0");
    ASSERT_EQ(m_options.servedFolders.size(), 1u);
    EXPECT_EQ(m_options.servedFolders[0].urlPrefix, "/");
    EXPECT_EQ(m_options.servedFolders[0].directory, "demo");
    EXPECT_EQ(m_options.httpPort, 8081);
    EXPECT_EQ(m_options.httpAddress, "127.0.0.1");
}

TEST_F(AnnounceOptionsTest, TheRoomViewHasItsPortAndTheSubnetsNamedBesideTheCards)
{
    ASSERT_TRUE(Parse({"c.ini"})) << m_error;
    EXPECT_EQ(m_options.reportPort, 9099);
    ASSERT_TRUE(Parse({"--report-port", "0", "--report-from", "10.1.7.9/16, 172.16.0.5", "--report-from=0.0.0.0/0", "c.ini"}))
        << m_error;
    EXPECT_EQ(m_options.reportPort, 0);
    std::vector<std::string> subnets;
    for (const Subnet& subnet : m_options.reportFrom)
        subnets.push_back(SubnetText(subnet));
    EXPECT_EQ(subnets, (std::vector<std::string>{"10.1.0.0/16", "172.16.0.5/32", "0.0.0.0/0"}));
    ASSERT_TRUE(Parse({"--room", "--on-air", "/run/k"})) << m_error;
    EXPECT_EQ(m_options.mode, AnnounceOptions::Mode::Room);
}

TEST_F(AnnounceOptionsTest, ServingAloneNeedsNoCatalogue)
{
    EXPECT_TRUE(Parse({"--serve", "pages"})) << m_error;
    ASSERT_TRUE(Parse({"--serve-at", "/pictures/=/var/lib/p", "--serve=/srv/kestrel", "--serve-at=/a/=b"})) << m_error;
    ASSERT_EQ(m_options.servedFolders.size(), 3u);
    EXPECT_EQ(m_options.servedFolders[0].urlPrefix, "/pictures/");
    EXPECT_EQ(m_options.servedFolders[0].directory, "/var/lib/p");
    EXPECT_EQ(m_options.servedFolders[1].urlPrefix, "/");
    EXPECT_TRUE(Parse({"--listen", "--port", "9001"})) << m_error;
    EXPECT_EQ(m_options.mode, AnnounceOptions::Mode::Listen);
}

TEST_F(AnnounceOptionsTest, APublishedCatalogueStandsWithOrWithoutTheOwnFile)
{
    ASSERT_TRUE(Parse({"--published", "/var/lib/kestrel/catalogue.ini"})) << m_error;
    EXPECT_EQ(m_options.publishedPath, "/var/lib/kestrel/catalogue.ini");
    EXPECT_TRUE(m_options.cataloguePath.empty());
    ASSERT_TRUE(Parse({"--published=p.ini", "/etc/kestrel/catalogue.ini"})) << m_error;
    EXPECT_EQ(m_options.publishedPath, "p.ini");
    EXPECT_EQ(m_options.cataloguePath, "/etc/kestrel/catalogue.ini");
}

TEST_F(AnnounceOptionsTest, SigningOptionsNameTheirFiles)
{
    ASSERT_TRUE(Parse({"--key", "/etc/k.key", "--state=/var/lib/c", "links.ini"})) << m_error;
    EXPECT_EQ(m_options.keyPath, "/etc/k.key");
    EXPECT_EQ(m_options.statePath, "/var/lib/c");
    ASSERT_TRUE(Parse({"--listen", "--trust", "keys"})) << m_error;
    EXPECT_EQ(m_options.trustPath, "keys");
    ASSERT_TRUE(Parse({"--gen-key", "new.key"})) << m_error;
    EXPECT_EQ(m_options.mode, AnnounceOptions::Mode::GenerateKey);
    EXPECT_EQ(m_options.newKeyPath, "new.key");
}

TEST_F(AnnounceOptionsTest, TheClassroomStateOptionsAreReadAndTheirHostsChecked)
{
    ASSERT_TRUE(Parse({"--mode", "lesson", "--allow", " a.example.org  Bad.org 10.0.0.1 10.0.0.256 ", "--pause-message",
                       "看黑板", "--pause-minutes", "5", "--valid-for", "20", "--published-state", "s.ini", "c.ini"}))
        << m_error;
    EXPECT_EQ(m_options.classroomMode, ClassroomMode::LessonOnly);
    EXPECT_EQ(m_options.allowedHosts, "a.example.org 10.0.0.1");
    ASSERT_EQ(m_options.skippedHosts.size(), 2u);
    EXPECT_EQ(m_options.skippedHosts[0],
              "allowed host \"Bad.org\" skipped: neither a lower-case DNS name nor a dotted IPv4 address");
    EXPECT_EQ(m_options.pauseMessage, "\xBF\xB4\xBA\xDA\xB0\xE5");
    EXPECT_EQ(m_options.pauseMinutes, 5);
    EXPECT_EQ(m_options.validForSeconds, 20);
    EXPECT_EQ(m_options.publishedStatePath, "s.ini");
    ASSERT_TRUE(Parse({"--allow", "xn--fiqs8s.example a-b.c0 localhost 255.255.255.255 a..b -a.com a.com. 1.2.3 "
                                  "01.2.3.4 a_b.com \xE4\xB8\xAD.com " + std::string(64, 'a') + ".com",
                       "c.ini"}));
    EXPECT_EQ(m_options.allowedHosts, "xn--fiqs8s.example a-b.c0 localhost 255.255.255.255");
    EXPECT_EQ(m_options.skippedHosts.size(), 8u);
    ASSERT_TRUE(Parse({"c.ini"}));
    EXPECT_EQ(m_options.validForSeconds, 10);
    ASSERT_TRUE(Parse({"--interval", "7.5", "c.ini"}));
    EXPECT_EQ(m_options.validForSeconds, 15) << "twice the interval when that is longer";
}

TEST_F(AnnounceOptionsTest, NonsenseIsRefusedWithAReason)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "which catalogue"},
        {{"--once", "--serve", "d"}, "which catalogue"},
        {{"--port", "0", "c.ini"}, "--port needs a port from 1 to 65535"},
        {{"--http-port", "70000", "c.ini"}, "--http-port needs a port"},
        {{"--to", "school", "c.ini"}, "--to needs an IPv4 address"},
        {{"--interval", "0", "c.ini"}, "--interval needs seconds"},
        {{"--interval", "2s", "c.ini"}, "--interval needs seconds"},
        {{"--port"}, "--port needs a value"},
        {{"--once=yes", "c.ini"}, "--once takes no value"},
        {{"--loud", "c.ini"}, "unknown option --loud"},
        {{"--loud=1", "c.ini"}, "unknown option --loud"},
        {{"--port", "--once", "c.ini"}, "--port needs a port from 1 to 65535, not \"--once\""},
        {{"a.ini", "b.ini"}, "only one catalogue"},
        {{"--listen", "c.ini"}, "--listen only listens"},
        {{"--ttl", "0", "c.ini"}, "--ttl needs a hop limit from 1 to 255"},
        {{"--ttl", "256", "c.ini"}, "--ttl needs a hop limit from 1 to 255"},
        {{"--listen", "--group", "192.168.1.255"}, "--group needs an IPv4 multicast group"},
        {{"--listen", "--group", "240.0.0.1"}, "--group needs an IPv4 multicast group"},
        {{"--group", "239.255.90.0", "c.ini"}, "--group is for --listen"},
        {{"--listen", "--key", "k"}, "--listen only listens"},
        {{"--listen", "--rooms", "rooms.ini"}, "--listen only listens"},
        {{"--room", "--rooms", "rooms.ini", "c.ini"}, "--room only prints the room view"},
        {{"--rooms=", "c.ini"}, "--rooms needs a file name"},
        {{"--trust", "keys", "c.ini"}, "--trust goes with --listen"},
        {{"--on-air=", "c.ini"}, "--on-air needs a folder"},
        {{"--serve", "d", "--on-air", "o"}, "--on-air tells what is announced"},
        {{"--listen", "--on-air", "o"}, "--on-air tells what is announced"},
        {{"--key=", "c.ini"}, "--key needs a file name"},
        {{"--gen-key"}, "--gen-key needs a value"},
        {{"--listen", "--published", "p.ini"}, "--listen only listens"},
        {{"--published="}, "--published needs a file name"},
        {{"--serve", "a", "--serve", "b"}, "only one --serve"},
        {{"--serve-at", "/p/=a", "--serve-at", "/p/=b"}, "/p/ is already served"},
        {{"--serve-at", "pictures=a"}, "--serve-at needs /PATH/=DIR"},
        {{"--serve-at", "/=a"}, "--serve-at needs /PATH/=DIR"},
        {{"--serve-at", "/p/="}, "--serve-at needs a folder"},
        {{"--mode", "shut", "c.ini"}, "--mode needs open, lesson or paused"},
        {{"--pause-minutes", "0", "c.ini"}, "--pause-minutes needs minutes from 1 to 1440"},
        {{"--pause-minutes", "1441", "c.ini"}, "--pause-minutes needs minutes from 1 to 1440"},
        {{"--valid-for", "4", "c.ini"}, "--valid-for needs seconds from 5 to 3600"},
        {{"--valid-for", "3601", "c.ini"}, "--valid-for needs seconds from 5 to 3600"},
        {{"--valid-for", "5", "--interval", "3", "c.ini"}, "--valid-for must be at least twice the interval"},
        {{"--pause-message", std::string(128, 'a'), "c.ini"}, "--pause-message needs UTF-8 text of at most 127"},
        {{"--published-state=", "c.ini"}, "--published-state needs a file name"},
        {{"--report-port", "65536", "c.ini"}, "--report-port needs a port from 0 to 65535"},
        {{"--report-from", "10.1.0.0/33", "c.ini"}, "--report-from needs subnets such as 10.1.0.0/16, not \"10.1.0.0/33\""},
        {{"--report-from", "10.1.0.0/16,school", "c.ini"}, "not \"school\""},
        {{"--room", "c.ini"}, "--room only prints the room view"},
    };
    for (const auto& [arguments, words] : cases) {
        EXPECT_FALSE(Parse(arguments));
        EXPECT_NE(m_error.find(words), std::string::npos) << m_error;
    }
}

} // namespace
} // namespace kestrel
