#include "base/ConsoleLine.h"

#include <cstdio>

namespace kestrel {

void PrintLine(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace kestrel
