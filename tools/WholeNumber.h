#pragma once

#include <string_view>

namespace kestrel {

// A command line's number: all of `text` in decimal, from `lowest` to
// `highest`; false for anything else ("", "2s", too large).
bool ReadWholeNumber(std::string_view text, long lowest, long highest, long& number);

} // namespace kestrel
