#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace kestrel {

// Holds back password guessing without ever locking an account out (a
// pupil could then lock out every teacher). Each address may try a few
// times a minute; and each failure for one account from one address
// doubles how long that address waits before trying that account again.
// Success ends the wait; another address never waits for it.
class CSignInLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kAttemptsPerWindow = 5;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kLongestDelay{600};

    // 0 when `user` may be tried from `address` now, which counts as an
    // attempt; else the whole seconds to wait, and nothing is counted.
    int SecondsToWait(const std::string& address, const std::string& user, Clock::time_point now = Clock::now());
    void Record(const std::string& address, const std::string& user, bool succeeded, Clock::time_point now = Clock::now());

private:
    struct Delay {
        Clock::duration length{};
        Clock::time_point until;
    };
    static std::string PairKey(const std::string& address, const std::string& user);

    std::mutex m_mutex;
    std::map<std::string, std::deque<Clock::time_point>> m_attempts;
    std::map<std::string, Delay> m_delays;
};

} // namespace kestrel
