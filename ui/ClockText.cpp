#include "ui/ClockText.h"

namespace kestrel {

QString ClockText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace kestrel
