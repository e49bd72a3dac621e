#pragma once

#include "base/ButtonPictureSize.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Turns a picture a teacher uploads into what every receiver shows on a
// button: a 24 x 24, 24-bit BMP where magenta (255, 0, 255) is transparent.
// The upload is decoded only as PNG, JPEG, GIF or BMP (told by its first
// bytes, not by its name), fitted into the square keeping its shape, and
// drawn anew, so nothing of the sent file is ever stored or served.
constexpr std::size_t kLargestUpload = 2 << 20;

// False, with `problem` in Chinese, when the bytes are not one of the four
// formats, too large, or cannot be decoded.
bool EncodeButtonPicture(std::string_view upload, std::string& bmp, std::string& problem);

} // namespace kestrel
