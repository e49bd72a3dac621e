#include "net/FetchWorker.h"

#include "net/FetchLimits.h"
#include "net/UrlEncoding.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace kestrel {

namespace {

// How long the worker sleeps when nothing moves; a new URL or the end cuts
// it short.
constexpr int kIdleWaitMs = 1000;

} // namespace

struct CFetchWorker::Transfer {
    std::string url;
    // Both stay where they are while the multi handle holds the request.
    std::unique_ptr<FetchedBody> body = std::make_unique<FetchedBody>();
    std::unique_ptr<CFetchRequest> request = std::make_unique<CFetchRequest>();
    // The guard for a transfer whose own time-out was not kept.
    std::chrono::steady_clock::time_point deadline;
};

CFetchWorker::CFetchWorker(Ended ended) : m_ended(std::move(ended)), m_thread([this] { Run(); }) {}

CFetchWorker::~CFetchWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStopping = true;
    }
    m_batch.Wakeup();
    m_thread.join();
}

void CFetchWorker::Fetch(const std::string& url)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queued.push_back(url);
    }
    m_batch.Wakeup();
}

void CFetchWorker::Start(const std::string& url, std::vector<Transfer>& running)
{
    Transfer transfer;
    transfer.url = url;
    transfer.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs + kBatchGraceMs);
    char encoded[kEncodedUrlSize];
    if (EncodeUrl(url.c_str(), encoded) && transfer.request->Prepare(encoded, transfer.body->bytes, kBodyCapacity)
        && m_batch.Add(*transfer.request)) {
        running.push_back(std::move(transfer));
        return;
    }
    // Nothing to fetch: the answer is known at once.
    m_ended(url, *transfer.body);
}

void CFetchWorker::Run()
{
    std::vector<Transfer> running;
    for (;;) {
        std::vector<std::string> queued;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bStopping)
                break;
            queued.swap(m_queued);
        }
        for (const std::string& url : queued)
            Start(url, running);

        const std::vector<CFetchRequest*> ended = m_batch.Step(running.empty() ? kIdleWaitMs : kBatchPollMs);
        const auto now = std::chrono::steady_clock::now();
        for (auto transfer = running.begin(); transfer != running.end();) {
            const bool done = std::find(ended.begin(), ended.end(), transfer->request.get()) != ended.end();
            if (!done && now < transfer->deadline) {
                ++transfer;
                continue;
            }
            m_batch.Remove(*transfer->request);
            transfer->body->size = transfer->request->Result();
            m_ended(transfer->url, *transfer->body);
            transfer = running.erase(transfer);
        }
    }
    for (Transfer& transfer : running)
        m_batch.Remove(*transfer.request);
}

} // namespace kestrel
