#include "publish/TeacherSessions.h"

#include <algorithm>
#include <cstdint>
#include <sodium.h>

namespace kestrel {
namespace {

// Every teacher of a large school several times over; beyond it the
// session used longest ago ends.
constexpr std::size_t kMostSessions = 10000;
constexpr std::size_t kTimeBytes = 8;

std::string Hex(const unsigned char* bytes, std::size_t size)
{
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

std::int64_t Seconds(CTeacherSessions::Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

} // namespace

std::string RandomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return Hex(bytes, sizeof bytes);
}

CTeacherSessions::CTeacherSessions(Clock::duration idle) : m_idle(idle)
{
    static_assert(sizeof m_secret == crypto_auth_KEYBYTES);
    crypto_auth_keygen(m_secret);
}

// The token is the time in seconds (8 bytes, most significant first) and
// its HMAC, in hexadecimal.
std::string CTeacherSessions::PreSignInToken(Clock::time_point now) const
{
    unsigned char token[kTimeBytes + crypto_auth_BYTES];
    const auto seconds = static_cast<std::uint64_t>(Seconds(now));
    for (std::size_t i = 0; i < kTimeBytes; ++i)
        token[i] = static_cast<unsigned char>(seconds >> (8 * (kTimeBytes - 1 - i)));
    crypto_auth(token + kTimeBytes, token, kTimeBytes, m_secret);
    return Hex(token, sizeof token);
}

bool CTeacherSessions::IsPreSignInToken(std::string_view hex, Clock::time_point now) const
{
    unsigned char token[kTimeBytes + crypto_auth_BYTES];
    std::size_t length = 0;
    if (hex.size() != 2 * sizeof token
        || sodium_hex2bin(token, sizeof token, hex.data(), hex.size(), nullptr, &length, nullptr) != 0
        || length != sizeof token || crypto_auth_verify(token + kTimeBytes, token, kTimeBytes, m_secret) != 0)
        return false;
    std::uint64_t made = 0;
    for (std::size_t i = 0; i < kTimeBytes; ++i)
        made = made << 8 | token[i];
    const auto age = Seconds(now) - static_cast<std::int64_t>(made);
    return age >= 0 && age <= std::chrono::duration_cast<std::chrono::seconds>(kLifetime).count();
}

bool CTeacherSessions::HasEnded(const Entry& entry, Clock::time_point now) const
{
    return now - entry.lastUse > m_idle || now - entry.started > kLifetime;
}

std::string CTeacherSessions::SignIn(const std::string& user, Session& session, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessions.size() >= kMostSessions) {
        for (auto it = m_sessions.begin(); it != m_sessions.end();)
            it = HasEnded(it->second, now) ? m_sessions.erase(it) : std::next(it);
    }
    if (m_sessions.size() >= kMostSessions) {
        m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; }));
    }
    const std::string id = RandomToken();
    session = {user, RandomToken()};
    m_sessions[id] = {session, now, now};
    return id;
}

bool CTeacherSessions::Find(const std::string& id, Session& session, Clock::time_point now, Touch touch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    if (HasEnded(it->second, now)) {
        m_sessions.erase(it);
        return false;
    }
    if (touch == Touch::Use)
        it->second.lastUse = now;
    session = it->second.session;
    return true;
}

void CTeacherSessions::End(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

} // namespace kestrel
