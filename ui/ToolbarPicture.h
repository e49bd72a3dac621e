#pragma once

#include "base/ButtonPictureSize.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

namespace kestrel {

// Pictures for the toolbar's buttons, navigation and links alike: square,
// magenta, RGB(255, 0, 255), transparent.

// One button picture from any decoded image: magenta becomes transparent,
// then another size is scaled to 24 x 24. A null image gives a null pixmap.
QPixmap ButtonPicture(const QImage& image);

// The neutral picture of a link whose own picture could not be had.
QPixmap StandInPicture();

// Cuts a strip of pictures laid side by side, 24 pixels wide each, into
// button pictures, left to right.
QList<QPixmap> CutPictureStrip(const QImage& strip);

// The icon of a button: the normal picture, and the hot one while the mouse
// is over it.
QIcon ButtonIcon(const QPixmap& normal, const QPixmap& hot);

} // namespace kestrel
