#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace kestrel {

// Holds back password guessing: each address may try to sign in a few
// times a minute; further attempts are refused unchecked until the oldest
// falls out of the minute.
class CSignInLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kAttemptsPerWindow = 5;
    static constexpr std::chrono::seconds kWindow{60};

    // Counts an attempt from `address`; false when it is one too many.
    bool Allow(const std::string& address, Clock::time_point now = Clock::now());

private:
    std::mutex m_mutex;
    std::map<std::string, std::deque<Clock::time_point>> m_attempts;
};

} // namespace kestrel
