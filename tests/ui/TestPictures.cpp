#include "tests/ui/TestPictures.h"

#include <QAction>
#include <QBuffer>
#include <QPainter>

namespace kestrel {

QByteArray BmpPicture(const QColor& colour, int width)
{
    QImage image(width, kButtonPictureSize, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    QPainter(&image).fillRect(QRect(width / 2 - 6, 6, 12, 12), colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

QImage IconImage(const QAction* button, QIcon::Mode mode)
{
    return button->icon().pixmap(kButtonPictureSize, kButtonPictureSize, mode).toImage();
}

} // namespace kestrel
