#pragma once

#include <QString>

namespace kestrel {

// Writes one diagnostic line to standard output at once, so it is there
// even when the program is stopped right after.
void PrintLine(const QString& line);

} // namespace kestrel
