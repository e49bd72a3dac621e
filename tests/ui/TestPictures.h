#pragma once

#include "ui/ToolbarPicture.h"

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>

class QAction;

namespace kestrel {

// A picture as a broadcaster's server would have it: a BMP with a magenta
// background and a square of one colour in the middle.
QByteArray BmpPicture(const QColor& colour, int width = kButtonPictureSize);

// What a button shows in one mode, at the size of a button picture.
QImage IconImage(const QAction* button, QIcon::Mode mode);

} // namespace kestrel
