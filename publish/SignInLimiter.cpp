#include "publish/SignInLimiter.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr std::size_t kMostAddresses = 4096;
constexpr std::size_t kMostPairs = 4096;
// A wait is remembered this long after it ends, so that guesses spread
// out over time still meet the longest delay.
constexpr std::chrono::hours kRemembered{1};

int WholeSeconds(CSignInLimiter::Clock::duration wait)
{
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count());
}

} // namespace

std::string CSignInLimiter::PairKey(const std::string& address, const std::string& user)
{
    return address + '\n' + user;
}

int CSignInLimiter::SecondsToWait(const std::string& address, const std::string& user, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto delay = m_delays.find(PairKey(address, user));
    if (delay != m_delays.end() && delay->second.until > now)
        return WholeSeconds(delay->second.until - now);
    if (m_attempts.size() >= kMostAddresses) {
        for (auto it = m_attempts.begin(); it != m_attempts.end();)
            it = now - it->second.back() > kWindow ? m_attempts.erase(it) : std::next(it);
    }
    std::deque<Clock::time_point>& attempts = m_attempts[address];
    while (!attempts.empty() && now - attempts.front() > kWindow)
        attempts.pop_front();
    if (attempts.size() >= static_cast<std::size_t>(kAttemptsPerWindow))
        return std::max(1, WholeSeconds(attempts.front() + kWindow - now));
    attempts.push_back(now);
    return 0;
}

void CSignInLimiter::Record(const std::string& address, const std::string& user, bool succeeded, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = PairKey(address, user);
    if (succeeded) {
        m_delays.erase(key);
        return;
    }
    if (m_delays.size() >= kMostPairs && m_delays.find(key) == m_delays.end()) {
        for (auto it = m_delays.begin(); it != m_delays.end();)
            it = now - it->second.until > kRemembered ? m_delays.erase(it) : std::next(it);
        if (m_delays.size() >= kMostPairs) {
            m_delays.erase(std::min_element(m_delays.begin(), m_delays.end(),
                [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
        }
    }
    Delay& delay = m_delays[key];
    if (now - delay.until > kRemembered)
        delay.length = {};
    delay.length = delay.length == Clock::duration{} ? Clock::duration(kFirstDelay)
                                                     : std::min<Clock::duration>(2 * delay.length, kLongestDelay);
    delay.until = now + delay.length;
}

} // namespace kestrel
