#include "net/PictureFetch.h"

#include "ServedPattern.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrel {
namespace {

class PictureBatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.Started()) << "the test HTTP server did not start";
        // A page long enough to count, for any address a fetch should not have asked for.
        m_server.AnswerOthers(PatternReply(1200));
    }

    // Fetches the URLs as one batch; how long it took goes to elapsedMs.
    std::vector<FetchedBody> FetchAll(const std::vector<std::string>& urls, long long* elapsedMs = nullptr)
    {
        std::vector<const char*> texts;
        for (const std::string& url : urls)
            texts.push_back(url.c_str());
        std::vector<FetchedBody> bodies(urls.size());
        const auto start = std::chrono::steady_clock::now();
        FetchUrls(texts.data(), bodies.data(), bodies.size());
        if (elapsedMs != nullptr)
            *elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        return bodies;
    }

    static std::vector<unsigned char> Bytes(const FetchedBody& body)
    {
        return std::vector<unsigned char>(body.bytes, body.bytes + body.size);
    }

    test::CTestHttpServer m_server;
};

TEST_F(PictureBatchTest, SilentServerCostsOneTimeOutAndOnlyItsOwnPicture)
{
    constexpr std::size_t kSilent = 7;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < 20; ++i)
        urls.push_back(i == kSilent ? PatternUrl(m_server, 0, test::Reply().Silent()) : PatternUrl(m_server, 1000 + 100 * i));

    long long elapsedMs = 0;
    const std::vector<FetchedBody> bodies = FetchAll(urls, &elapsedMs);
    EXPECT_LT(elapsedMs, kRequestTimeoutMs + kBatchGraceMs);
    for (std::size_t i = 0; i < urls.size(); ++i) {
        if (i == kSilent)
            EXPECT_EQ(bodies[i].size, 0u);
        else
            EXPECT_EQ(Bytes(bodies[i]), ServedPattern(1000 + 100 * i)) << urls[i];
    }
}

TEST_F(PictureBatchTest, ConnectionsAreClosedSoASingleWorkerServerAnswersAll)
{
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < 4; ++i)
        urls.push_back(PatternUrl(m_server, 1000 + i, test::Reply().SingleWorker()));

    const std::vector<FetchedBody> bodies = FetchAll(urls);
    for (std::size_t i = 0; i < urls.size(); ++i)
        EXPECT_EQ(bodies[i].size, 1000 + i) << urls[i];
}

TEST_F(PictureBatchTest, EachAnswerFollowsTheRulesOfASingleFetch)
{
    std::string overlong = m_server.Url("/");
    for (int i = 0; i < 255; ++i)
        overlong += "\xD6\xD0";
    const std::vector<std::string> urls = {
        PatternUrl(m_server, 999),
        PatternUrl(m_server, 1200, test::Reply("", 404)),
        "",
        PatternUrl(m_server, 20000),
        PatternUrl(m_server, 1500, test::Reply().Chunked()),
        PatternUrl(m_server, 1200, test::Reply("", 302).Header("Location: " + PatternUrl(m_server, 1782))),
        "file:///etc/hostname",
        PatternUrl(m_server, 3000, test::Reply().Slowly(4, std::chrono::milliseconds(150))),
        overlong,
        PatternUrl(m_server, 1500, test::Reply().Length(-1500)),
    };
    const std::vector<std::size_t> expected = {0, 1200, 0, 8191, 0, 1782, 0, 3000, 0, 0};

    const std::vector<FetchedBody> bodies = FetchAll(urls);
    for (std::size_t i = 0; i < urls.size(); ++i) {
        EXPECT_EQ(bodies[i].size, expected[i]) << urls[i];
        EXPECT_EQ(Bytes(bodies[i]), ServedPattern(expected[i])) << urls[i];
    }
}

} // namespace
} // namespace kestrel
