#pragma once

namespace kestrel {

// SIGINT and SIGTERM as a readable descriptor, so that every wait of the
// announcer (the pause between announcements, the listener's wait for a
// datagram) ends at once when the service is stopped. Must be made before
// any thread starts, so that no other thread takes the signals.
class CStopSignals {
public:
    CStopSignals();
    ~CStopSignals();
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    int Descriptor() const { return m_fd; }
    // Waits up to `seconds`; true when a stop signal arrived meanwhile.
    bool WaitForStop(double seconds);

private:
    int m_fd = -1;
};

} // namespace kestrel
