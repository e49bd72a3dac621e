#include "publish/ClassroomStateFile.h"

#include "base/GbkText.h"
#include "tools/ClassroomStateText.h"

#include <algorithm>

namespace kestrel {

std::string PublishedStateText(const PublishedState& state)
{
    return "# the classroom state, written by kestrel-publish\nmode = " + std::string(ClassroomModeWord(state.mode))
        + "\nhosts = " + state.hosts + "\nmessage = " + GbkToUtf8(state.message) + "\npause-id = "
        + std::to_string(state.pauseId) + "\npause-until = " + std::to_string(state.pauseUntilSeconds)
        + "\nafter-pause = " + ClassroomModeWord(state.afterPause) + "\n"
        + (state.lesson.empty() ? "" : "lesson = " + state.lesson + "\n") + "set-at = " + std::to_string(state.setAtSeconds)
        + "\n";
}

ClassroomMode ModeOnTheAir(const PublishedState& state, std::int64_t nowSeconds)
{
    if (state.mode == ClassroomMode::Paused && state.pauseUntilSeconds != 0 && nowSeconds >= state.pauseUntilSeconds)
        return state.afterPause;
    return state.mode;
}

std::string PressModeButton(PublishedState& state, ClassroomMode mode, const std::string& message, int minutes,
    std::int64_t nowSeconds)
{
    const ClassroomMode before = ModeOnTheAir(state, nowSeconds);
    if (mode != ClassroomMode::Paused) {
        state.mode = mode;
        state.message.clear();
        state.pauseUntilSeconds = 0;
        return "";
    }
    std::string gbk;
    if (message.find_first_of("\r\n") != std::string::npos || !Utf8ToGbk(message, gbk))
        return "暂停时显示的话只能有一行，且学生的电脑要能显示每个字";
    if (gbk.size() >= sizeof(ClassroomState::pauseMessage))
        return "暂停时显示的话太长：最多 63 个汉字（字母和数字算半个）";
    if (minutes < 0 || minutes > kLongestPauseMinutes)
        return "暂停的分钟数要在 1 到 " + std::to_string(kLongestPauseMinutes) + " 之间，不限时请留空";
    // Screens remember the pauses that ended there by number, and numbers
    // only grow: the file's last one, or the clock after a lost file.
    state.pauseId = static_cast<std::uint32_t>(std::max<std::int64_t>(state.pauseId + 1LL, nowSeconds));
    if (before != ClassroomMode::Paused)
        state.afterPause = before;
    state.mode = ClassroomMode::Paused;
    state.message = gbk;
    state.pauseUntilSeconds = minutes > 0 ? nowSeconds + minutes * 60LL : 0;
    return "";
}

} // namespace kestrel
