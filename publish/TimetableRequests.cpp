#include "publish/TimetableRequests.h"

#include "publish/JsonText.h"
#include "tools/ClassroomStateText.h"

#include <nlohmann/json.hpp>

namespace kestrel {
namespace {

bool ReadSlotId(const nlohmann::json& form, int& id)
{
    const auto member = form.find("id");
    if (member == form.end() || !member->is_number_integer() || *member < 0 || *member > 999999)
        return false;
    id = member->get<int>();
    return true;
}

// The slot in the form; "" or its problem, with `field`.
std::string ReadSlotForm(const nlohmann::json& form, TimetableSlot& slot, std::string& field, bool& badRequest)
{
    std::string days;
    std::string start;
    std::string end;
    std::string mode;
    if (!ReadSlotId(form, slot.id) || !ReadJsonText(form, "days", days) || !ReadJsonText(form, "start", start)
        || !ReadJsonText(form, "end", end) || !ReadJsonText(form, "set", slot.set) || !ReadJsonText(form, "mode", mode)
        || !ReadClassroomMode(mode, slot.mode) || slot.mode == ClassroomMode::Paused) {
        badRequest = true;
        return "";
    }
    for (const char c : days) {
        if (c >= '1' && c <= '7')
            slot.days |= 1u << (c - '0');
    }
    field = !ReadMinuteText(start, slot.start) ? "start" : !ReadMinuteText(end, slot.end) ? "end" : "";
    return field.empty() ? "" : "时间要写成 08:00 这样";
}

} // namespace

nlohmann::json TimetableJson(const CPublishStore& store, std::int64_t nowSeconds)
{
    const Timetable timetable = store.ReadTimetable();
    const std::string week = IsoWeekAt(nowSeconds);
    nlohmann::json slots = nlohmann::json::array();
    nlohmann::json running = nullptr;
    const std::optional<SlotOccurrence> lesson = SlotAt(timetable, nowSeconds);
    for (const TimetableSlot& slot : timetable.slots) {
        nlohmann::json days = nlohmann::json::array();
        for (int day = 1; day <= 7; ++day) {
            if (slot.days >> day & 1u)
                days.push_back(day);
        }
        slots.push_back({{"id", slot.id}, {"days", days}, {"start", MinuteText(slot.start)},
            {"end", MinuteText(slot.end)}, {"set", slot.set}, {"mode", ClassroomModeWord(slot.mode)},
            {"offThisWeek", slot.offWeek == week}});
        if (lesson && lesson->slotId == slot.id)
            running = {{"id", slot.id}, {"key", lesson->key}, {"set", slot.set},
                {"secondsLeft", lesson->endSeconds - nowSeconds}};
    }
    return {{"slots", std::move(slots)}, {"week", week}, {"running", std::move(running)}};
}

std::string ChangeTimetableByForm(CPublishStore& store, const nlohmann::json& form, std::int64_t nowSeconds,
    std::string& field, bool& badRequest)
{
    std::string action;
    TimetableSlot slot;
    badRequest = false;
    if (!ReadJsonText(form, "action", action) || (action != "save" && !ReadSlotId(form, slot.id))) {
        badRequest = true;
        return "";
    }
    if (action == "delete")
        return store.DeleteSlot(slot.id);
    if (action == "off" || action == "on")
        return store.SwitchOffThisWeek(slot.id, action == "off", nowSeconds);
    if (action != "save") {
        badRequest = true;
        return "";
    }
    if (std::string problem = ReadSlotForm(form, slot, field, badRequest); !problem.empty() || badRequest)
        return problem;
    return store.SaveSlot(slot, &field);
}

} // namespace kestrel
