#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// The counter of signed announcements: the milliseconds since 1970, or one
// more than the last counter when the clock has not moved on or went back.
// The state file holds a bound above every counter handed out, reserved
// ahead so that it is written about once a minute, not for every frame;
// after a restart counting goes on above it, so it never goes backwards.
class CAnnounceCounter {
public:
    static constexpr std::uint64_t kReserveAhead = 60000;

    // The state file's folder is made when missing; a missing file starts
    // from the clock. False, with `error` set, when the file is damaged or
    // cannot be read.
    bool Open(const std::string& path, std::string& error);
    // The next counter for wall-clock time nowMs. False, with `error` set,
    // when the reservation cannot be written: nothing may be signed then.
    bool Next(std::uint64_t nowMs, std::uint64_t& counter, std::string& error);

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::uint64_t m_last = 0;
    std::uint64_t m_reserved = 0;
};

// Where the counter is kept unless --state says otherwise.
std::string DefaultAnnounceCounterPath();

} // namespace kestrel
