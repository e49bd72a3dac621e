#include "ui/PauseCover.h"

#include "ui/BrowserNotice.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace kestrel {

namespace {

constexpr double kMessageScale = 3.0;
constexpr int kTickMs = 250;

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

void RejectLater(QDialog* dialog)
{
    QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
}

} // namespace

CPauseCover::CPauseCover(QWidget* window, std::function<void()> comeForward)
    : QObject(window)
    , m_window(window)
    , m_comeForward(std::move(comeForward))
    , m_cover(new CBrowserNotice(window, kMessageScale))
{
    m_cover->setObjectName(QStringLiteral("pauseCover"));
    m_cover->setFocusPolicy(Qt::StrongFocus);
    connect(&m_tick, &QTimer::timeout, this, &CPauseCover::ShowTimeLeft);
}

void CPauseCover::Cover(const QString& message)
{
    m_cover->Show(message.isEmpty() ? QStringLiteral("老师暂停了屏幕，请看老师") : message, m_cover->Text());
    if (m_covering)
        return;
    m_covering = true;
    qApp->installEventFilter(this);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            RejectLater(dialog);
    }
    KeepOnTop(true);
    m_comeForward();
    m_cover->setFocus();
}

void CPauseCover::SetCountdown(int seconds)
{
    m_deadline = QDeadlineTimer(std::chrono::seconds(seconds));
    if (seconds > 0)
        m_tick.start(kTickMs);
    else
        m_tick.stop();
    ShowTimeLeft();
}

void CPauseCover::ShowTimeLeft()
{
    const qint64 left = m_tick.isActive() ? (m_deadline.remainingTime() + 999) / 1000 : -1;
    m_cover->Show(m_cover->Title(),
                  left < 0 ? QString() : QStringLiteral("还剩 %1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0')));
}

void CPauseCover::Uncover()
{
    if (!m_covering)
        return;
    m_covering = false;
    m_tick.stop();
    qApp->removeEventFilter(this);
    KeepOnTop(false);
    m_cover->hide();
}

void CPauseCover::KeepOnTop(bool onTop)
{
    // On the window system's window, so the window is not made anew.
    if (QWindow* window = m_window->windowHandle())
        window->setFlag(Qt::WindowStaysOnTopHint, onTop);
}

bool CPauseCover::IsCoverOrInside(const QObject* object) const
{
    for (; object; object = object->parent()) {
        if (object == m_cover)
            return true;
    }
    return false;
}

bool CPauseCover::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Shortcut)
        return true;
    if (!watched->isWidgetType())
        return false;
    if (type == QEvent::Show) {
        if (auto* dialog = qobject_cast<QDialog*>(watched))
            RejectLater(dialog);
    } else if (type == QEvent::FocusIn && !IsCoverOrInside(watched)) {
        QMetaObject::invokeMethod(m_cover, qOverload<>(&QWidget::setFocus), Qt::QueuedConnection);
    } else if (type == QEvent::WindowStateChange && watched == m_window && m_window->isMinimized()) {
        QMetaObject::invokeMethod(this, [this] { m_comeForward(); }, Qt::QueuedConnection);
    }
    return IsInput(type) && watched != m_cover;
}

} // namespace kestrel
