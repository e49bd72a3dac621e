#include "ui/ApplicationIcon.h"

namespace kestrel {

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kestrel/kestrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kestrel
