#include "net/FetchBatch.h"

#include "net/FetchLimits.h"

#include <algorithm>
#include <chrono>

namespace kestrel {

CFetchBatch::CFetchBatch() : m_multi(curl_multi_init()) {}

CFetchBatch::~CFetchBatch()
{
    RemoveAll();
    curl_multi_cleanup(m_multi);
}

bool CFetchBatch::Add(CFetchRequest& request)
{
    if (m_multi == nullptr || request.Handle() == nullptr || curl_multi_add_handle(m_multi, request.Handle()) != CURLM_OK)
        return false;
    m_added.push_back(request.Handle());
    return true;
}

void CFetchBatch::Remove(CFetchRequest& request)
{
    const auto added = std::find(m_added.begin(), m_added.end(), request.Handle());
    if (added == m_added.end())
        return;
    curl_multi_remove_handle(m_multi, *added);
    m_added.erase(added);
}

std::vector<CFetchRequest*> CFetchBatch::Step(int waitMs)
{
    std::vector<CFetchRequest*> ended;
    int running = 0;
    if (m_multi != nullptr && curl_multi_perform(m_multi, &running) == CURLM_OK) {
        int waiting = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &waiting)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CFetchRequest* request = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
            if (request == nullptr)
                continue;
            request->Ended(message->data.result);
            ended.push_back(request);
        }
    }
    if (ended.empty() && m_multi != nullptr)
        curl_multi_poll(m_multi, nullptr, 0, waitMs, nullptr);
    return ended;
}

void CFetchBatch::Wakeup()
{
    if (m_multi != nullptr)
        curl_multi_wakeup(m_multi);
}

void CFetchBatch::Run()
{
    // Every transfer has its own time-out; this guard only makes sure the
    // loop ends even if one were not kept.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs + kBatchGraceMs);
    while (!Empty() && std::chrono::steady_clock::now() < deadline) {
        for (CFetchRequest* request : Step(kBatchPollMs))
            Remove(*request);
    }
    RemoveAll();
}

void CFetchBatch::RemoveAll()
{
    for (CURL* handle : m_added)
        curl_multi_remove_handle(m_multi, handle);
    m_added.clear();
}

} // namespace kestrel
