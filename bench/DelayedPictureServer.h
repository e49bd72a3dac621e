#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace kestrel {

// A loopback HTTP server on its own thread that answers every request with
// the same body, each answer only after a fixed delay, many requests at a
// time; a delay beyond the clients' time-outs makes a silent server. For
// the fetch benchmarks.
class CDelayedPictureServer {
public:
    CDelayedPictureServer(std::string body, std::chrono::milliseconds delay);
    ~CDelayedPictureServer();
    CDelayedPictureServer(const CDelayedPictureServer&) = delete;
    CDelayedPictureServer& operator=(const CDelayedPictureServer&) = delete;

    // False when no loopback port could be opened.
    bool Started() const { return m_listener >= 0; }
    // A URL the server answers; n keeps URLs apart.
    std::string Url(int n) const;
    // Requests received whole so far.
    int Requests() const { return m_requests; }

private:
    void Serve();

    const std::string m_body;
    const std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

} // namespace kestrel
