#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace kestrel {

class CBrowserNotice;

// The pause: a calm cover over the whole window, toolbar and browser alike,
// with the teacher's message in large type and the time left. While it is
// up, keys, shortcuts and the mouse reach nothing under it: dialogs are
// rejected as they open, the focus stays on the cover, and the window comes
// forward again when minimised. The page underneath is left as it is.
class CPauseCover : public QObject {
    Q_OBJECT

public:
    // `comeForward` un-minimises and raises the window.
    CPauseCover(QWidget* window, std::function<void()> comeForward);

    // Covers the window, or changes the message of the cover up; an empty
    // message shows the standing one.
    void Cover(const QString& message);
    // The countdown's seconds from now; 0 shows none.
    void SetCountdown(int seconds);
    void Uncover();
    bool Covering() const { return m_covering; }
    CBrowserNotice* Notice() const { return m_cover; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowTimeLeft();
    void KeepOnTop(bool onTop);
    bool IsCoverOrInside(const QObject* object) const;

    QWidget* const m_window;
    std::function<void()> m_comeForward;
    CBrowserNotice* const m_cover;
    QTimer m_tick;
    QDeadlineTimer m_deadline;
    bool m_covering = false;
};

} // namespace kestrel
