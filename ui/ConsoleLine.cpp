#include "ui/ConsoleLine.h"

#include <cstdio>

namespace kestrel {

void PrintLine(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace kestrel
