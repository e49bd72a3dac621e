#include "tools/InertJson.h"

#include <nlohmann/json.hpp>

namespace kestrel {

std::string InertJsonText(const nlohmann::json& value)
{
    const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // Outside strings JSON never holds these, so every one is in a string.
    std::string inert;
    inert.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '<':
            inert += "\\u003c";
            break;
        case '>':
            inert += "\\u003e";
            break;
        case '&':
            inert += "\\u0026";
            break;
        default:
            inert += c;
        }
    }
    return inert;
}

} // namespace kestrel
