#pragma once

namespace kestrel {

// Every toolbar button shows a square picture of this side, in pixels: the
// window draws link pictures at it, the publishing page makes uploads fit it.
constexpr int kButtonPictureSize = 24;

} // namespace kestrel
