#include "publish/TeacherSessions.h"

#include <sodium.h>

namespace kestrel {
namespace {

// A flood of cookie-less requests must not grow the table without end.
constexpr std::size_t kMostSessions = 10000;

} // namespace

std::string RandomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

void CTeacherSessions::ForgetIdle(Clock::time_point now)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = now - it->second.lastUse > m_idle ? m_sessions.erase(it) : std::next(it);
}

std::string CTeacherSessions::StartLocked(const std::string& user, Session& session)
{
    const Clock::time_point now = Clock::now();
    if (m_sessions.size() >= kMostSessions)
        ForgetIdle(now);
    // Still full: the sessions not signed in go first.
    for (auto it = m_sessions.begin(); m_sessions.size() >= kMostSessions && it != m_sessions.end();)
        it = it->second.session.user.empty() ? m_sessions.erase(it) : std::next(it);
    const std::string id = RandomToken();
    session = {user, RandomToken()};
    m_sessions[id] = {session, now};
    return id;
}

std::string CTeacherSessions::Start(Session& session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return StartLocked("", session);
}

bool CTeacherSessions::Find(const std::string& id, Session& session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    const Clock::time_point now = Clock::now();
    if (now - it->second.lastUse > m_idle) {
        m_sessions.erase(it);
        return false;
    }
    it->second.lastUse = now;
    session = it->second.session;
    return true;
}

std::string CTeacherSessions::SignIn(const std::string& oldId, const std::string& user, Session& session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(oldId);
    return StartLocked(user, session);
}

void CTeacherSessions::End(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

} // namespace kestrel
