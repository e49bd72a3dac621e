#include "tests/ui/QueuedInput.h"

#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace kestrel {

namespace {

using Queued = QWindowSystemInterface::AsynchronousDelivery;

} // namespace

void QueueKeyPress(QWidget* widget, int key, const char* text)
{
    QWindow* window = widget->window()->windowHandle();
    const QString typed = QString::fromLatin1(text);
    QWindowSystemInterface::handleKeyEvent<Queued>(window, QEvent::KeyPress, key, Qt::NoModifier, typed);
    QWindowSystemInterface::handleKeyEvent<Queued>(window, QEvent::KeyRelease, key, Qt::NoModifier, typed);
}

void QueueClick(QWidget* widget)
{
    QWidget* top = widget->window();
    QWindow* window = top->windowHandle();
    const QPointF local = widget->mapTo(top, widget->rect().center());
    const QPointF global = top->mapToGlobal(local);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::LeftButton, Qt::LeftButton,
                                                     QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window, local, global, Qt::NoButton, Qt::LeftButton,
                                                     QEvent::MouseButtonRelease);
}

} // namespace kestrel
