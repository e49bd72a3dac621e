#pragma once

#include <cstdio>
#include <string>

namespace kestrel {

// Every report of the announcer is one line on standard output, flushed at
// once, so that a service log or a pipe sees it when it happens.
inline void PrintLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace kestrel
