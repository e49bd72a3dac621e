#include "net/PictureFetch.h"

#include "PictureServer.h"
#include "ServedPattern.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrel {
namespace {

class PictureBatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Started()) << "the test HTTP server did not start"; }

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

    CPictureServer m_server;
};

TEST_F(PictureBatchTest, SilentServerCostsOneTimeOutAndOnlyItsOwnPicture)
{
    constexpr std::size_t kSilent = 7;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < 20; ++i)
        urls.push_back(m_server.Url(i == kSilent ? "/hang" : "/len/" + std::to_string(1000 + 100 * i)));

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
        urls.push_back(m_server.Url("/keepalive/" + std::to_string(1000 + i)));

    const std::vector<FetchedBody> bodies = FetchAll(urls);
    for (std::size_t i = 0; i < urls.size(); ++i)
        EXPECT_EQ(bodies[i].size, 1000 + i) << urls[i];
}

TEST_F(PictureBatchTest, EachAnswerFollowsTheRulesOfASingleFetch)
{
    std::string overlong = m_server.Url("/echo/");
    for (int i = 0; i < 255; ++i)
        overlong += "\xD6\xD0";
    const std::vector<std::string> urls = {
        m_server.Url("/len/999"),        m_server.Url("/page/404/1200"),
        "",                              m_server.Url("/len/20000"),
        m_server.Url("/chunked/1500"),   m_server.Url("/redirect?to=%2Flen%2F1782"),
        "file:///etc/hostname",          m_server.Url("/slow/3000"),
        overlong,                        m_server.Url("/negative/1500"),
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
