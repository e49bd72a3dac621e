#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The text of `value` with "<", ">" and "&" escaped too, so that it stays
// inert wherever a page puts it; bytes that are not UTF-8 become U+FFFD.
std::string InertJsonText(const nlohmann::json& value);

} // namespace kestrel
