#include "tools/PublishedState.h"

#include "base/GbkText.h"
#include "tools/ClassroomStateText.h"
#include "tools/SectionedText.h"

#include <cerrno>
#include <cstdlib>

namespace kestrel {

namespace {

// In the order of kKeys.
enum Key { kMode, kHosts, kMessage, kPauseId, kPauseUntil, kAfterPause, kLesson, kSetAt, kKeyCount };
constexpr const char* kKeys[kKeyCount]
    = {"mode", "hosts", "message", "pause-id", "pause-until", "after-pause", "lesson", "set-at"};

bool ReadUnsigned(std::string_view value, unsigned long long highest, unsigned long long& number)
{
    const std::string digits(value);
    if (digits.empty() || digits.size() > 20 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    number = std::strtoull(digits.c_str(), nullptr, 10);
    return errno != ERANGE && number <= highest;
}

// The value of key `key`; false with the reason when it does not fit.
bool ApplyValue(Key key, std::string_view value, PublishedState& state, std::string& reason)
{
    unsigned long long number = 0;
    switch (key) {
    case kMode:
        if (ReadClassroomMode(value, state.mode))
            return true;
        reason = "mode is open, lesson or paused";
        return false;
    case kHosts:
        state.hosts = value;
        return true;
    case kMessage:
        if (Utf8ToGbk(value, state.message) && state.message.size() < sizeof(ClassroomState::pauseMessage))
            return true;
        reason = "the message must be UTF-8 of at most 127 bytes in GBK";
        return false;
    case kPauseId:
        if (ReadUnsigned(value, UINT32_MAX, number)) {
            state.pauseId = static_cast<std::uint32_t>(number);
            return true;
        }
        reason = "pause-id is a number from 0 to 4294967295";
        return false;
    case kPauseUntil:
    case kSetAt:
        if (ReadUnsigned(value, INT64_MAX / 1000, number)) {
            (key == kSetAt ? state.setAtSeconds : state.pauseUntilSeconds) = static_cast<std::int64_t>(number);
            return true;
        }
        reason = std::string(kKeys[key]) + " is the seconds since 1970";
        return false;
    case kLesson:
        state.lesson = value;
        return true;
    case kAfterPause:
        if (ReadClassroomMode(value, state.afterPause) && state.afterPause != ClassroomMode::Paused)
            return true;
        reason = "after-pause is open or lesson";
        return false;
    case kKeyCount:
        break;
    }
    return false;
}

} // namespace

bool ParsePublishedState(std::string_view text, PublishedState& state, std::string& problem)
{
    state = PublishedState();
    bool seen[kKeyCount] = {};
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimmedBlanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view name = TrimmedBlanks(line.substr(0, equals));
        Key key = kMode;
        while (key < kKeyCount && name != kKeys[key])
            key = static_cast<Key>(key + 1);
        std::string reason;
        if (equals == std::string_view::npos || key == kKeyCount)
            reason = "\"" + std::string(name) + "\" is not a key; they are mode, hosts, message, pause-id, "
                "pause-until, after-pause, lesson and set-at";
        else if (seen[key])
            reason = std::string(kKeys[key]) + " is given twice";
        else
            ApplyValue(key, TrimmedBlanks(line.substr(equals + 1)), state, reason);
        if (!reason.empty()) {
            problem = "line " + std::to_string(lineNumber) + ": " + reason;
            return false;
        }
        seen[key] = true;
    }
    return true;
}

} // namespace kestrel
