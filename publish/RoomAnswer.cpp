#include "publish/RoomAnswer.h"

#include "base/WholeFile.h"
#include "publish/JsonText.h"
#include "tools/RoomSummary.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace kestrel {
namespace {

// The summary, its machines, a machine, and the machine's texts.
constexpr int kRoomJsonDepth = 3;

nlohmann::json NoRoom(const std::string& why)
{
    return {{"room", nullptr}, {"why", why}};
}

} // namespace

nlohmann::json RoomAnswer(const std::string& onAirFolder, std::int64_t nowSeconds)
{
    if (onAirFolder.empty())
        return NoRoom("发布页面不知道广播程序的运行文件夹（--on-air），看不到教室，请告诉管理员");
    std::string text;
    const WholeFileRead read = ReadWholeFile(onAirFolder + "/room.json", kLargestRoomSummary, text);
    if (read.state == WholeFileRead::State::Missing)
        return NoRoom("还没有教室的报告：广播程序没有运行，或者没有打开教室视图");
    if (read.state == WholeFileRead::State::TooLarge)
        return NoRoom("教室的报告太大（超过 " + std::to_string(kLargestRoomSummary >> 20) + " MB），没有读取，请告诉管理员");
    nlohmann::json room;
    if (read.state != WholeFileRead::State::Loaded || !ReadJsonObject(text, kRoomJsonDepth, room)
        || !room.contains("machines") || !room["machines"].is_array() || !room.contains("written")
        || !room["written"].is_number_integer())
        return NoRoom("教室的报告读不出来，请告诉管理员");
    const std::int64_t written = room["written"].get<std::int64_t>();
    return {{"room", std::move(room)}, {"age", std::max<std::int64_t>(0, nowSeconds - written)}};
}

} // namespace kestrel
