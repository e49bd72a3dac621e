#include "tools/ClassroomStateText.h"

#include "channel/SignedLinkRecordFrame.h"

namespace kestrel {

namespace {

constexpr const char* kModeWords[] = {"open", "lesson", "paused"};

} // namespace

bool ReadClassroomMode(std::string_view word, ClassroomMode& mode)
{
    for (int i = 0; i < 3; ++i) {
        if (word == kModeWords[i]) {
            mode = static_cast<ClassroomMode>(i);
            return true;
        }
    }
    return false;
}

const char* ClassroomModeWord(ClassroomMode mode)
{
    return kModeWords[static_cast<int>(mode)];
}

std::string AllowedHostsText(std::string_view text, std::vector<std::string>& skipped)
{
    constexpr std::string_view kSpaces = " \t\r\n";
    std::string hosts;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(kSpaces);
        if (start == std::string_view::npos)
            break;
        text.remove_prefix(start);
        const std::string_view entry = text.substr(0, text.find_first_of(kSpaces));
        text.remove_prefix(entry.size());
        const std::size_t needed = hosts.size() + (hosts.empty() ? 0 : 1) + entry.size();
        if (!IsAllowedHostEntry(entry))
            skipped.push_back("allowed host \"" + std::string(entry) + "\" skipped: neither a lower-case DNS name nor "
                "a dotted IPv4 address");
        else if (needed >= sizeof(ClassroomState::extraHosts))
            skipped.push_back("allowed host \"" + std::string(entry) + "\" skipped: no room left for it");
        else
            hosts += (hosts.empty() ? "" : " ") + std::string(entry);
    }
    return hosts;
}

std::string DescribeHeardState(const ClassroomState& state, std::uint16_t boundPort, std::string_view sender)
{
    std::string line = "from " + std::string(sender) + ": state";
    line += " mode=" + std::string(ClassroomModeWord(state.mode)) + " links=" + std::to_string(state.linkCount)
        + (state.hasHome ? " home" : " no-home") + " digest=" + KeyIdText(state.digest)
        + " bound-port=" + std::to_string(boundPort) + " valid-for=" + std::to_string(state.validForSeconds);
    if (state.mode == ClassroomMode::Paused)
        line += " pause-id=" + std::to_string(state.pauseId) + " countdown=" + std::to_string(state.pauseCountdownSeconds);
    return line;
}

} // namespace kestrel
