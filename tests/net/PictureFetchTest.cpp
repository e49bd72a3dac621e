#include "net/PictureFetch.h"

#include "ServedPattern.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

class PictureFetchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<test::CTestHttpServer>();
        // A page long enough to count, for any address a fetch should not have asked for.
        s_server->AnswerOthers(PatternReply(1200));
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->Started()) << "the test HTTP server did not start";
        m_path = ::testing::TempDir() + "kestrel_picture_" + std::to_string(getpid()) + "_"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        unlink(m_path.c_str());
    }
    void TearDown() override { unlink(m_path.c_str()); }

    static std::string Url(std::size_t n, test::Reply reply = test::Reply()) { return PatternUrl(*s_server, n, std::move(reply)); }

    // The body of a fetch, empty when it failed.
    static std::vector<unsigned char> Fetched(const std::string& url)
    {
        FetchedBody body;
        const bool fetched = FetchUrl(url.c_str(), body);
        EXPECT_EQ(fetched, body.size != 0);
        return std::vector<unsigned char>(body.bytes, body.bytes + body.size);
    }

    // A URL that redirects hops times before it reaches target; each redirect
    // has a page of its own.
    static std::string RedirectChain(int hops, std::string target)
    {
        for (int i = 0; i < hops; ++i)
            target = Url(1200, test::Reply("", 302).Header("Location: " + target));
        return target;
    }

    // The request target the server saw last.
    static std::string LastTarget()
    {
        const std::vector<test::Request> requests = s_server->Requests();
        return requests.empty() ? std::string() : requests.back().target;
    }

    // How many connections the server accepted while action ran.
    template <typename Action>
    static int ConnectionsDuring(Action action)
    {
        const int before = s_server->Connections();
        action();
        return s_server->Connections() - before;
    }

    std::vector<unsigned char> FileBytes() const
    {
        std::ifstream file(m_path, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
    }
    bool FileExists() const { return access(m_path.c_str(), F_OK) == 0; }

    static std::unique_ptr<test::CTestHttpServer> s_server;
    std::string m_path;
};

std::unique_ptr<test::CTestHttpServer> PictureFetchTest::s_server;

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// What the server sees of the request.

TEST_F(PictureFetchTest, ChineseCharactersArriveAsUtf8Escapes)
{
    Fetched(s_server->Url("/echo/\xD6\xD0\xCE\xC4.bmp?s=1"));
    EXPECT_EQ(LastTarget(), "/echo/%E4%B8%AD%E6%96%87.bmp?s=1");
}

TEST_F(PictureFetchTest, RawBytesAreEscapedOnTheRequestLine)
{
    // A space, a pair with a low second byte and a lone high byte at the end
    // leave the encoder raw; the request line carries them escaped, while
    // escapes already in the URL stay as they are.
    Fetched(s_server->Url("/echo/a b%41\x81\x40\xB0"));
    EXPECT_EQ(LastTarget(), "/echo/a%20b%41%81@%B0");
}

TEST_F(PictureFetchTest, UserAgentIsMarlowBrowser)
{
    Fetched(s_server->Url("/echo"));
    EXPECT_EQ(s_server->Header("/echo", "user-agent"), "MarlowBrowser1.0");
}

// The length header decides whether a body counts.

TEST_F(PictureFetchTest, BodyBelow1000BytesIsNoPictureAndWritesNothing)
{
    EXPECT_FALSE(FetchUrlToFile(Url(999).c_str(), m_path.c_str()));
    EXPECT_FALSE(FileExists());
}

TEST_F(PictureFetchTest, FailedFetchLeavesAnExistingFileAsItWas)
{
    std::ofstream(m_path, std::ios::binary) << "old";
    EXPECT_FALSE(FetchUrlToFile(Url(999).c_str(), m_path.c_str()));
    EXPECT_EQ(FileBytes(), (std::vector<unsigned char>{'o', 'l', 'd'}));
}

TEST_F(PictureFetchTest, ErrorPageWithLengthCountsAsBody)
{
    EXPECT_TRUE(FetchUrlToFile(Url(1200, test::Reply("", 404)).c_str(), m_path.c_str()));
    EXPECT_EQ(FileBytes(), ServedPattern(1200));
}

TEST_F(PictureFetchTest, UnwritableFileFailsTheFetch)
{
    const std::string path = m_path + "_missing_folder/picture.bmp";
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(FetchUrlToFile(Url(1782).c_str(), path.c_str()));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find(path), std::string::npos) << "a line names the file";
}

TEST_F(PictureFetchTest, FetchWithoutPathOnlyTests)
{
    EXPECT_TRUE(FetchUrlToFile(Url(1782).c_str(), nullptr));
    EXPECT_FALSE(FetchUrlToFile(Url(999).c_str(), nullptr));
}

TEST_F(PictureFetchTest, LongBodyKeepsItsFirst8191Bytes)
{
    EXPECT_TRUE(FetchUrlToFile(Url(20000).c_str(), m_path.c_str()));
    EXPECT_EQ(FileBytes(), ServedPattern(8191));
}

TEST_F(PictureFetchTest, FetcherKeepsNoMoreThanItsCapacity)
{
    unsigned char buffer[100];
    const std::string url = Url(1500);
    EXPECT_EQ(CUrlFetcher().Fetch(url.c_str(), buffer, sizeof buffer), sizeof buffer);
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + sizeof buffer), ServedPattern(sizeof buffer));
}

TEST_F(PictureFetchTest, AnswersWithoutUsableLengthFail)
{
    EXPECT_TRUE(Fetched(Url(1500, test::Reply().Chunked())).empty());
    EXPECT_TRUE(Fetched(Url(1500, test::Reply().Length(-1500))).empty());
}

TEST_F(PictureFetchTest, BodyInSlowPiecesArrivesWhole)
{
    EXPECT_EQ(Fetched(Url(3000, test::Reply().Slowly(4, std::chrono::milliseconds(150)))), ServedPattern(3000));
}

TEST_F(PictureFetchTest, BodyCutShortFails)
{
    EXPECT_TRUE(Fetched(Url(1000, test::Reply().Length(2000))).empty());
}

// Servers that cannot or will not answer.

TEST_F(PictureFetchTest, SilentServerFailsWithinTheTimeOut)
{
    const auto start = Clock::now();
    EXPECT_FALSE(FetchUrlToFile(Url(0, test::Reply().Silent()).c_str(), m_path.c_str()));
    EXPECT_LT(MillisecondsSince(start), kRequestTimeoutMs + kBatchGraceMs);
    EXPECT_FALSE(FileExists());
}

TEST_F(PictureFetchTest, RefusedConnectionFailsWithoutWaiting)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(test::RefusingPort()) + "/picture.bmp";
    const auto start = Clock::now();
    EXPECT_TRUE(Fetched(url).empty());
    EXPECT_LT(MillisecondsSince(start), kConnectTimeoutMs);
}

// Where a fetch may go.

TEST_F(PictureFetchTest, RedirectsAreFollowedAFewTimes)
{
    EXPECT_EQ(Fetched(RedirectChain(1, Url(1500))), ServedPattern(1500));
    EXPECT_EQ(Fetched(RedirectChain(kMaxRedirects, Url(1500))).size(), 1500u);
    EXPECT_TRUE(Fetched(RedirectChain(kMaxRedirects + 1, Url(1500))).empty());
    // The length header of the redirect's own page says nothing of the body
    // at its end.
    EXPECT_TRUE(Fetched(RedirectChain(1, Url(1500, test::Reply().Chunked()))).empty());
}

TEST_F(PictureFetchTest, RedirectToAnotherSchemeIsRefused)
{
    EXPECT_TRUE(Fetched(RedirectChain(1, "file:///etc/hostname")).empty());
    // The server would see a second connection if the redirect were taken.
    const std::string ftp = "ftp://127.0.0.1:" + std::to_string(s_server->Port()) + "/picture.bmp";
    EXPECT_EQ(ConnectionsDuring([&] { EXPECT_TRUE(Fetched(RedirectChain(1, ftp)).empty()); }), 1);
}

TEST_F(PictureFetchTest, OnlyFullHttpUrlsAreFetched)
{
    EXPECT_TRUE(Fetched("").empty());
    EXPECT_TRUE(Fetched("file:///etc/hostname").empty());
    const std::string ftp = "ftp://127.0.0.1:" + std::to_string(s_server->Port()) + "/picture.bmp";
    EXPECT_EQ(ConnectionsDuring([&] { EXPECT_TRUE(Fetched(ftp).empty()); }), 0);
    // Without a scheme there is nothing to fetch, even where a guess would find it.
    const std::string url = Url(1500);
    EXPECT_TRUE(Fetched(url.substr(url.find("//") + 2)).empty());
}

TEST_F(PictureFetchTest, OverlongEncodingIsRefused)
{
    std::string url = s_server->Url("/echo/");
    for (int i = 0; i < 255; ++i)
        url += "\xD6\xD0";
    EXPECT_TRUE(Fetched(url).empty());
}

} // namespace
} // namespace kestrel
