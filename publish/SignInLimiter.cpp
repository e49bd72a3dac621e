#include "publish/SignInLimiter.h"

namespace kestrel {
namespace {

constexpr std::size_t kMostAddresses = 4096;

} // namespace

bool CSignInLimiter::Allow(const std::string& address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_attempts.size() >= kMostAddresses) {
        for (auto it = m_attempts.begin(); it != m_attempts.end();)
            it = now - it->second.back() > kWindow ? m_attempts.erase(it) : std::next(it);
    }
    std::deque<Clock::time_point>& attempts = m_attempts[address];
    while (!attempts.empty() && now - attempts.front() > kWindow)
        attempts.pop_front();
    if (attempts.size() >= static_cast<std::size_t>(kAttemptsPerWindow))
        return false;
    attempts.push_back(now);
    return true;
}

} // namespace kestrel
