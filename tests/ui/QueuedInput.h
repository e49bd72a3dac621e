#pragma once

class QWidget;

namespace kestrel {

// Input as the window system hands it over: queued for the window's event
// loop, not sent past it, so a loop that holds back user input holds these
// back too.

// A press and release of a key, for whatever has the focus in the widget's
// window.
void QueueKeyPress(QWidget* widget, int key, const char* text = "");
// A left click in the middle of the widget.
void QueueClick(QWidget* widget);

} // namespace kestrel
