#include "tools/RoomSummary.h"

#include "channel/SignedLinkRecordFrame.h"
#include "tools/InertJson.h"

#include <algorithm>
#include <arpa/inet.h>
#include <nlohmann/json.hpp>

namespace kestrel {

namespace {

// The order machines are listed in: what needs the teacher's eye first.
enum class Standing { Offline, NotApplied, OtherVersion, Fine };

const char* ModeName(ClassroomMode mode)
{
    switch (mode) {
    case ClassroomMode::LessonOnly:
        return "lessonOnly";
    case ClassroomMode::Paused:
        return "paused";
    case ClassroomMode::Open:
        break;
    }
    return "open";
}

std::string AddressText(std::uint32_t address)
{
    in_addr inAddress;
    inAddress.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &inAddress, text, sizeof text);
    return text;
}

} // namespace

std::string RoomSummaryText(const CRoomTable& table, const RoomDrops& portDrops, std::int64_t nowMs,
    std::int64_t unixSeconds, const std::string& version)
{
    const auto standing = [&](const RoomMachine& machine) {
        if (machine.offline)
            return Standing::Offline;
        if (!table.Applied(machine))
            return Standing::NotApplied;
        return version == machine.report.version ? Standing::Fine : Standing::OtherVersion;
    };
    std::vector<int> listed(static_cast<std::size_t>(table.Count()));
    for (int position = 0; position < table.Count(); ++position)
        listed[static_cast<std::size_t>(position)] = position;
    std::stable_sort(listed.begin(), listed.end(),
        [&](int a, int b) { return standing(table.Machine(a)) < standing(table.Machine(b)); });

    int applied = 0;
    int offline = 0;
    int otherVersion = 0;
    nlohmann::json machines = nlohmann::json::array();
    for (const int position : listed) {
        const RoomMachine& machine = table.Machine(position);
        const ScreenReport& report = machine.report;
        applied += table.Applied(machine) ? 1 : 0;
        offline += machine.offline ? 1 : 0;
        otherVersion += version != report.version ? 1 : 0;
        machines.push_back({{"address", AddressText(machine.address)}, {"name", report.machine},
            {"login", report.login}, {"applied", table.Applied(machine)}, {"mode", ModeName(report.mode)},
            {"host", report.pageHost}, {"heardAgo", (nowMs - machine.heardMs) / 1000}, {"offline", machine.offline},
            {"version", report.version}, {"withheld", (report.flags & kReportWithheld) != 0},
            {"complete", (report.flags & kReportComplete) != 0}});
    }
    RoomDrops drops = table.Drops();
    drops.malformed += portDrops.malformed;
    drops.outside += portDrops.outside;
    drops.otherRoom += portDrops.otherRoom;
    const nlohmann::json summary = {
        {"port", table.Port()},
        {"onAir", table.OnAir() ? KeyIdText(*table.OnAir()) : std::string()},
        {"written", unixSeconds},
        {"version", version},
        {"counts", {{"machines", table.Count()}, {"applied", applied}, {"stale", table.Count() - applied - offline},
                       {"offline", offline}, {"otherVersion", otherVersion}}},
        {"dropped", {{"malformed", drops.malformed}, {"tooOften", drops.tooOften}, {"outside", drops.outside},
                        {"full", drops.full}, {"otherRoom", drops.otherRoom}}},
        {"machines", std::move(machines)},
    };
    return InertJsonText(summary);
}

} // namespace kestrel
