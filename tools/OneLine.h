#pragma once

#include <string>

namespace kestrel {

// `text` with every control character a space: one line of a file or of a
// terminal, whatever bytes it came from.
std::string OneLine(std::string text);

} // namespace kestrel
