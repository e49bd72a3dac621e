#include "tools/AnnounceCounter.h"

#include "base/StateFolder.h"
#include "base/WholeFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrel {

namespace {
constexpr std::size_t kLargestStateFile = 64;
} // namespace

std::string DefaultAnnounceCounterPath()
{
    const std::string folder = UserStateFolder();
    return folder.empty() ? std::string() : folder + "/announce-counter";
}

bool CAnnounceCounter::Open(const std::string& path, std::string& error)
{
    m_path = path;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int failure = MakeFolders(path.substr(0, slash))) {
            error = path.substr(0, slash) + ": " + std::strerror(failure);
            return false;
        }
    }
    std::string text;
    const WholeFileRead read = ReadWholeFile(path, kLargestStateFile, text);
    if (read.state == WholeFileRead::State::Missing)
        return true;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    char* end = nullptr;
    errno = 0;
    const unsigned long long reserved = std::strtoull(text.c_str(), &end, 10);
    if (read.state != WholeFileRead::State::Loaded || text.empty() || text[0] < '0' || text[0] > '9'
        || *end != '\0' || errno != 0) {
        error = path + ": not a counter state file (one decimal number); it must be mended or removed";
        return false;
    }
    m_last = m_reserved = reserved;
    return true;
}

bool CAnnounceCounter::Next(std::uint64_t nowMs, std::uint64_t& counter, std::string& error)
{
    const std::uint64_t next = nowMs > m_last ? nowMs : m_last + 1;
    if (next > m_reserved) {
        const std::uint64_t reserved = next + kReserveAhead;
        if (const int failure = ReplaceWholeFile(m_path, std::to_string(reserved) + "\n")) {
            error = m_path + ": " + std::strerror(failure) + "; nothing is signed until the counter can be kept";
            return false;
        }
        m_reserved = reserved;
    }
    m_last = counter = next;
    return true;
}

} // namespace kestrel
