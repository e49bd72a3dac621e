#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kestrel {

// The page's sessions, which exist only once a teacher has signed in,
// known by a random id in an HttpOnly, SameSite=Strict cookie. Each
// carries its own CSRF token, which every POST must repeat. A session ends
// when unused for the idle time, and after kLifetime whatever its use.
//
// Before signing in the page holds no session at all, only a token that
// proves it was handed out by this process: an HMAC of the time it was
// made. Nothing is kept for it, so no flood of requests can push one out.
class CTeacherSessions {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kLifetime{12};
    struct Session {
        std::string user;
        std::string csrf;
    };

    explicit CTeacherSessions(Clock::duration idle);

    // A token good for signing in until kLifetime after `now`.
    std::string PreSignInToken(Clock::time_point now = Clock::now()) const;
    bool IsPreSignInToken(std::string_view token, Clock::time_point now = Clock::now()) const;

    // A new session of `user`; returns its id.
    std::string SignIn(const std::string& user, Session& session, Clock::time_point now = Clock::now());
    // Whether a request keeps its session from ending when idle: a look
    // the page repeats by itself (the room view, every second) does not, or
    // a page left open would never sign its teacher out.
    enum class Touch { Use, Look };
    // The live session of `id`.
    bool Find(const std::string& id, Session& session, Clock::time_point now = Clock::now(), Touch touch = Touch::Use);
    void End(const std::string& id);

private:
    struct Entry {
        Session session;
        Clock::time_point started;
        Clock::time_point lastUse;
    };
    bool HasEnded(const Entry& entry, Clock::time_point now) const;

    Clock::duration m_idle;
    unsigned char m_secret[32];
    std::mutex m_mutex;
    std::map<std::string, Entry> m_sessions;
};

// 32 random bytes as hexadecimal: session ids and CSRF tokens.
std::string RandomToken();

} // namespace kestrel
