#pragma once

#include <QIcon>

namespace kestrel {

// The program's icon, in every size the desktop may ask for.
QIcon ApplicationIcon();

} // namespace kestrel
