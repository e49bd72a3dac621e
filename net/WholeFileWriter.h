#pragma once

#include <cstddef>

namespace kestrel {

// Writes the bytes to path completely or not at all: they go to a new file
// beside it first, which then takes the name, replacing any file of that
// name. False, with a line on standard output, when that cannot be done;
// the file of that name is then left as it was.
bool WriteWholeFile(const char* path, const unsigned char* bytes, std::size_t count);

} // namespace kestrel
