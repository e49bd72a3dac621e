#include "tools/RoomText.h"

#include "tools/OneLine.h"

#include <nlohmann/json.hpp>

namespace kestrel {

namespace {

std::string Padded(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// Whatever the file holds, the terminal is given no control character.
std::string MachineLine(const nlohmann::json& machine)
{
    const std::string state = machine.at("offline").get<bool>() ? "offline"
        : machine.at("applied").get<bool>()                      ? "applied"
                                                                 : "not applied";
    const std::string heard = std::to_string(machine.at("heardAgo").get<long long>()) + " s";
    std::string line = Padded(machine.at("address").get<std::string>(), 16) + Padded(state, 13)
        + Padded(machine.at("mode").get<std::string>(), 11) + Padded(heard, 8)
        + Padded(OneLine(machine.at("version").get<std::string>()), 10)
        + OneLine(machine.at("name").get<std::string>());
    if (machine.at("withheld").get<bool>())
        return line + " (login and page withheld)";
    const std::string host = machine.at("host").get<std::string>();
    return line + " " + OneLine(machine.at("login").get<std::string>()) + " " + (host.empty() ? "-" : OneLine(host));
}

} // namespace

bool RoomTableText(const std::string& summary, std::int64_t nowSeconds, std::string& table, std::string& error)
{
    const nlohmann::json room = nlohmann::json::parse(summary, nullptr, false);
    try {
        const nlohmann::json& counts = room.at("counts");
        const nlohmann::json& dropped = room.at("dropped");
        const auto count = [](const nlohmann::json& group, const char* key) {
            return std::to_string(group.at(key).get<long long>());
        };
        const std::string onAir = room.at("onAir").get<std::string>();
        table = "room on port " + count(room, "port") + ": " + count(counts, "applied") + "/" + count(counts, "machines")
            + " applied, " + count(counts, "stale") + " not applied, " + count(counts, "offline") + " offline, "
            + count(counts, "otherVersion") + " of another version than " + OneLine(room.at("version").get<std::string>())
            + " (written " + std::to_string(nowSeconds - room.at("written").get<long long>()) + " s ago; on the air: "
            + (onAir.empty() ? "nothing" : OneLine(onAir)) + ")\n";
        table += "dropped: " + count(dropped, "malformed") + " malformed, " + count(dropped, "tooOften") + " too often, "
            + count(dropped, "outside") + " from outside the subnets, " + count(dropped, "full") + " with the table full, "
            + count(dropped, "otherRoom") + " for another room\n";
        table += Padded("ADDRESS", 16) + Padded("STATE", 13) + Padded("MODE", 11) + Padded("HEARD", 8)
            + Padded("VERSION", 10) + "NAME LOGIN PAGE\n";
        for (const nlohmann::json& machine : room.at("machines"))
            table += MachineLine(machine) + "\n";
    } catch (const nlohmann::json::exception&) {
        error = "not a room summary";
        return false;
    }
    return true;
}

} // namespace kestrel
