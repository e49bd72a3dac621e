#include "tools/WholeNumber.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace kestrel {

bool ReadWholeNumber(std::string_view text, long lowest, long highest, long& number)
{
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    number = std::strtol(copy.c_str(), &end, 10);
    return !copy.empty() && *end == '\0' && errno == 0 && number >= lowest && number <= highest;
}

} // namespace kestrel
