// The demo classroom as scripts/demo.sh runs it: every announced page and
// picture is really served, and the pictures are what the browser's
// buttons need.

#include "tests/tools/ChildProcess.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/tools/UdpProbe.h"

#include "channel/LinkReceiver.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <sys/socket.h>
#include <vector>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

constexpr int kDemoRecords = 9;  // the home page, a link back to it and seven lessons

class DemoClassroomTest : public ::testing::Test {
protected:
    DemoClassroomTest() : m_httpPort(test::FreePort(SOCK_STREAM)), m_client("127.0.0.1", m_httpPort)
    {
        m_client.set_connection_timeout(2);
        m_client.set_read_timeout(2);
    }
    ~DemoClassroomTest() override { RunDemoScript("stop", 30s); }

    int RunDemoScript(const std::string& command, std::chrono::milliseconds timeout)
    {
        test::ChildProcess script({"/usr/bin/env", "KESTREL_BUILD=" KESTREL_BINARY_DIR, "KESTREL_DEMO_DIR=" + m_folder.Path(),
            "KESTREL_DEMO_HTTP_PORT=" + std::to_string(m_httpPort), "KESTREL_DEMO_PORT=" + std::to_string(m_probe.Port()),
            "bash", KESTREL_SOURCE_DIR "/scripts/demo.sh", command});
        const int status = script.WaitForExit(timeout);
        m_scriptOutput = script.Output();
        return status;
    }

    // The path part of an address on the demo's page server.
    std::string ServedPath(std::string_view url) const
    {
        const std::string server = "http://127.0.0.1:" + std::to_string(m_httpPort);
        EXPECT_EQ(url.substr(0, server.size()), server);
        return std::string(url.substr(server.size()));
    }

    void ExpectPicture(std::string_view url)
    {
        const auto answer = m_client.Get(ServedPath(url));
        ASSERT_TRUE(answer) << url;
        EXPECT_EQ(answer->status, 200) << url;
        EXPECT_GE(answer->get_header_value<std::uint64_t>("Content-Length"), 1000u) << url;
        const std::string& bmp = answer->body;
        ASSERT_EQ(bmp.size(), 1782u) << url;
        const auto number = [&](std::size_t offset) {
            return static_cast<unsigned char>(bmp[offset]) | static_cast<unsigned char>(bmp[offset + 1]) << 8;
        };
        EXPECT_EQ(bmp.substr(0, 2), "BM");
        EXPECT_EQ(number(18), 24) << "width";
        EXPECT_EQ(number(22), 24) << "height";
        EXPECT_EQ(number(28), 24) << "bits per pixel";
        // A corner is background: magenta, which the buttons show as
        // transparent (pixels are stored blue, green, red).
        EXPECT_EQ(bmp.substr(54, 3), std::string("\xFF\x00\xFF", 3)) << url;
    }

    test::TemporaryFolder m_folder;
    test::UdpProbe m_probe;
    int m_httpPort;
    httplib::Client m_client;
    std::string m_scriptOutput;
};

TEST_F(DemoClassroomTest, EveryAnnouncedPageAndPictureIsServed)
{
    ASSERT_EQ(RunDemoScript("start", 300s), 0) << m_scriptOutput;

    CLinkReceiver receiver;
    unsigned char datagram[8192];
    for (int i = 0; i < 5 * kDemoRecords && receiver.GetCount() < kDemoRecords; ++i) {
        const long size = m_probe.Receive(datagram, sizeof datagram, 3s);
        ASSERT_GT(size, 0) << "the demo stopped announcing";
        receiver.Feed(datagram, static_cast<std::size_t>(size));
    }
    ASSERT_EQ(receiver.GetCount(), kDemoRecords);

    int links = 0;
    for (int i = 0; i < kDemoRecords; ++i) {
        LinkRecord record;
        ASSERT_TRUE(receiver.GetRecord(i, record));
        const auto page = m_client.Get(ServedPath(FieldText(record.url)));
        ASSERT_TRUE(page) << FieldText(record.url);
        EXPECT_EQ(page->status, 200) << FieldText(record.url);
        EXPECT_NE(page->body.find("<meta charset=\"utf-8\">"), std::string::npos) << FieldText(record.url);
        if (IsHomeRecord(record))
            continue;
        ++links;
        EXPECT_FALSE(FieldText(record.caption).empty());
        ExpectPicture(FieldText(record.hotPicture));
        ExpectPicture(FieldText(record.coolPicture));
    }
    EXPECT_EQ(links, kDemoRecords - 1);

    EXPECT_EQ(RunDemoScript("stop", 30s), 0) << m_scriptOutput;
    EXPECT_FALSE(m_client.Get("/index.html")) << "the page server is still up after stop";
}

} // namespace
} // namespace kestrel
