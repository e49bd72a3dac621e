#include "net/FetchBatch.h"

#include "net/FetchLimits.h"

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

void CFetchBatch::Run()
{
    // Every transfer has its own time-out; this guard only makes sure the
    // loop ends even if one were not kept.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs + kBatchGraceMs);
    int running = static_cast<int>(m_added.size());
    while (running > 0 && std::chrono::steady_clock::now() < deadline) {
        if (curl_multi_perform(m_multi, &running) != CURLM_OK)
            break;
        CollectEnded();
        if (running > 0)
            curl_multi_poll(m_multi, nullptr, 0, kBatchPollMs, nullptr);
    }
    RemoveAll();
}

void CFetchBatch::CollectEnded()
{
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &waiting)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CFetchRequest* request = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
        if (request != nullptr)
            request->Ended(message->data.result);
    }
}

void CFetchBatch::RemoveAll()
{
    for (CURL* handle : m_added)
        curl_multi_remove_handle(m_multi, handle);
    m_added.clear();
}

} // namespace kestrel
