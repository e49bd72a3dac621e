#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kestrel::test {

// The process's local time zone set to `zone` (a TZ value) while it lives;
// the one before, or none, comes back after.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* before = std::getenv("TZ"))
            m_before = before;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_before)
            ::setenv("TZ", m_before->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_before;
};

// Seconds since 1970 of a UTC date and time.
inline std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second = 0)
{
    std::tm utc = {};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return static_cast<std::int64_t>(::timegm(&utc));
}

} // namespace kestrel::test
