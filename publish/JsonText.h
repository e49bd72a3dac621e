#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// A JSON string literal of UTF-8 text. "<", ">" and "&" are escaped too, so
// the text stays inert wherever a page puts it.
std::string JsonString(std::string_view text);

} // namespace kestrel
