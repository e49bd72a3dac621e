#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Keys travel between machines as base64 text (the standard alphabet, with
// padding), so that IT staff can copy them as one line.
std::string Base64Text(const unsigned char* bytes, std::size_t count);

// Decodes text that holds exactly `count` bytes; false for anything else.
bool DecodeBase64Exactly(std::string_view text, unsigned char* bytes, std::size_t count);

} // namespace kestrel
