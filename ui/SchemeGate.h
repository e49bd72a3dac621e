#pragma once

#include <QUrl>

namespace kestrel {

// The one place that decides which addresses the program opens, so that
// nothing a broadcast or a page sends can start another program. A refusal
// prints a line saying why.

// Inside the window: http, https and file addresses only.
bool MayNavigate(const QUrl& url);

// In the desktop's own browser (pages that ask for a new window): http and
// https only, since a file handed to the desktop could run as a program.
bool MayOpenOutside(const QUrl& url);

} // namespace kestrel
