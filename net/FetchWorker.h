#pragma once

#include "net/FetchBatch.h"
#include "net/PictureFetch.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel {

// Picture fetches in the background: a thread of its own runs every URL it
// is given side by side on one libcurl multi handle and hands each ended
// fetch to `ended`, on that thread. Nobody else ever waits for the network.
// Each fetch keeps the limits of one picture request; destroying the worker
// abandons what still runs and joins the thread.
class CFetchWorker {
public:
    // body.size is 0 where nothing usable came back.
    using Ended = std::function<void(const std::string& url, const FetchedBody& body)>;

    explicit CFetchWorker(Ended ended);
    ~CFetchWorker();
    CFetchWorker(const CFetchWorker&) = delete;
    CFetchWorker& operator=(const CFetchWorker&) = delete;

    // Queues one GET of a URL of code page 936 text; returns at once.
    void Fetch(const std::string& url);

private:
    struct Transfer;

    void Run();
    void Start(const std::string& url, std::vector<Transfer>& running);

    const Ended m_ended;
    CFetchBatch m_batch;
    std::mutex m_mutex;
    std::vector<std::string> m_queued;
    bool m_bStopping = false;
    std::thread m_thread;
};

} // namespace kestrel
