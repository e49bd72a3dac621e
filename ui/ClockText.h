#pragma once

#include <QDateTime>
#include <QString>

namespace kestrel {

// The status bar clock: "%Y-%m-%d %H:%M:%S", every field at fixed width.
QString ClockText(const QDateTime& time);

} // namespace kestrel
