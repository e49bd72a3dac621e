#include "ui/ToolbarPicture.h"

#include <QPainter>

namespace kestrel {

namespace {

constexpr QRgb kTransparentKey = 0x00ff00ff;

} // namespace

QPixmap ButtonPicture(const QImage& image)
{
    if (image.isNull())
        return QPixmap();
    // Key out before scaling, so smoothing never mixes magenta into the edges.
    QImage picture = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if ((line[x] & 0x00ffffff) == kTransparentKey)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    if (picture.size() != QSize(kButtonPictureSize, kButtonPictureSize))
        picture = picture.scaled(kButtonPictureSize, kButtonPictureSize, Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
    return QPixmap::fromImage(picture);
}

QPixmap StandInPicture()
{
    QPixmap picture(kButtonPictureSize, kButtonPictureSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x8a, 0x93, 0x9e), 1.5));
    painter.setBrush(QColor(0xe4, 0xe8, 0xed));
    painter.drawRoundedRect(QRectF(2.5, 2.5, 19, 19), 4, 4);
    return picture;
}

QList<QPixmap> CutPictureStrip(const QImage& strip)
{
    QList<QPixmap> pictures;
    for (int x = 0; x + kButtonPictureSize <= strip.width(); x += kButtonPictureSize)
        pictures.append(ButtonPicture(strip.copy(x, 0, kButtonPictureSize, strip.height())));
    return pictures;
}

QIcon ButtonIcon(const QPixmap& normal, const QPixmap& hot)
{
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(hot, QIcon::Active);
    return icon;
}

} // namespace kestrel
