#pragma once

#include <string_view>

namespace kestrel {

// Every diagnostic line of the programs: written to standard output and
// flushed at once, so that a service log or a pipe sees it when it happens,
// even when the program is stopped right after.
void PrintLine(std::string_view line);

} // namespace kestrel
