#include "net/FetchWorker.h"

#include "ServedPattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

// Far beyond one request time-out, so a lost answer fails instead of hanging.
constexpr std::chrono::seconds kAnswerWait{20};

struct Answer {
    std::string url;
    std::vector<unsigned char> bytes;
};

// Collects what the worker reports on its own thread.
class FetchWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Started()) << "the test HTTP server did not start"; }

    CFetchWorker::Ended Collector()
    {
        return [this](const std::string& url, const FetchedBody& body) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_answers.push_back({url, std::vector<unsigned char>(body.bytes, body.bytes + body.size)});
            m_changed.notify_all();
        };
    }

    std::vector<Answer> WaitForAnswers(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kAnswerWait, [&] { return m_answers.size() >= count; });
        return m_answers;
    }

    test::CTestHttpServer m_server;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Answer> m_answers;
};

TEST_F(FetchWorkerTest, AnswersComeAsTheyEndAndASilentServerHoldsOnlyItsOwn)
{
    CFetchWorker worker(Collector());
    const std::string silent = PatternUrl(m_server, 0, test::Reply().Silent());
    worker.Fetch(silent);
    std::vector<std::string> pictures;
    for (int i = 0; i < 5; ++i) {
        pictures.push_back(PatternUrl(m_server, 1000 + 100 * i));
        worker.Fetch(pictures.back());
    }

    const std::vector<Answer> answers = WaitForAnswers(pictures.size() + 1);
    ASSERT_EQ(answers.size(), pictures.size() + 1);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const auto answer = std::find_if(answers.begin(), answers.end(), [&](const Answer& a) { return a.url == pictures[i]; });
        ASSERT_NE(answer, answers.end()) << pictures[i];
        EXPECT_EQ(answer->bytes, ServedPattern(1000 + 100 * i)) << pictures[i];
        EXPECT_LT(answer - answers.begin(), static_cast<long>(pictures.size())) << "a picture waited for the silent server";
    }
    EXPECT_EQ(answers.back().url, silent);
    EXPECT_TRUE(answers.back().bytes.empty());
}

TEST_F(FetchWorkerTest, AddressesThatCannotBeFetchedAreAnsweredAsFailures)
{
    CFetchWorker worker(Collector());
    const std::vector<std::string> urls = {"", "file:///etc/hostname", "no scheme", PatternUrl(m_server, 999)};
    for (const std::string& url : urls)
        worker.Fetch(url);
    const std::vector<Answer> answers = WaitForAnswers(urls.size());
    ASSERT_EQ(answers.size(), urls.size());
    for (const Answer& answer : answers)
        EXPECT_TRUE(answer.bytes.empty()) << answer.url;
}

TEST_F(FetchWorkerTest, EndingTheWorkerAbandonsWhatStillRuns)
{
    auto worker = std::make_unique<CFetchWorker>(Collector());
    worker->Fetch(PatternUrl(m_server, 0, test::Reply().Silent()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    worker.reset();
    // Closing the window must not wait out the silent server.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kRequestTimeoutMs));
    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_TRUE(m_answers.empty());
}

} // namespace
} // namespace kestrel
