#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace kestrel {

// The page's sessions, known by a random id in an HttpOnly, SameSite=Strict
// cookie. Each carries its own CSRF token, which every POST must repeat;
// one signed in carries the teacher's name. A session unused for the idle
// time is forgotten, and signing in starts a new one, so an id seen before
// sign-in is worth nothing after it.
class CTeacherSessions {
public:
    using Clock = std::chrono::steady_clock;
    struct Session {
        std::string user; // empty until signed in
        std::string csrf;
    };

    explicit CTeacherSessions(Clock::duration idle) : m_idle(idle) {}

    // A new session not signed in; returns its id.
    std::string Start(Session& session);
    // The live session of `id`, which counts as its use.
    bool Find(const std::string& id, Session& session);
    // Ends `oldId` and returns the id of a new session of `user`.
    std::string SignIn(const std::string& oldId, const std::string& user, Session& session);
    void End(const std::string& id);

private:
    struct Entry {
        Session session;
        Clock::time_point lastUse;
    };
    std::string StartLocked(const std::string& user, Session& session);
    void ForgetIdle(Clock::time_point now);

    Clock::duration m_idle;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_sessions;
};

// 32 random bytes as hexadecimal: session ids and CSRF tokens.
std::string RandomToken();

} // namespace kestrel
