#pragma once

#include <QStatusBar>
#include <QTimer>

class QLabel;

namespace kestrel {

// The window's three-pane status bar: pane 0 takes the free width (state or
// address), pane 1 the download progress, pane 2 the clock. Panes 1 and 2
// are 100 pixels wide, wider where the font needs more for the clock.
class CStatusBar : public QStatusBar {
    Q_OBJECT

public:
    static constexpr int kPaneCount = 3;
    static constexpr int kPaneWidth = 100;

    explicit CStatusBar(QWidget* parent = nullptr);

    // Shown at once; the text a pane already shows changes nothing.
    void SetPaneText(int pane, const QString& text);
    QString GetPaneText(int pane) const;
    // Pane 1: "done/total".
    void SetProgress(qint64 done, qint64 total);
    int PaneWidth(int pane) const;
    // The classroom's mode in a widget of its own beside pane 1; hidden
    // while `name` is empty.
    void ShowMode(const QString& name);
    QString ModeShown() const;
    // Writes the local time into pane 2 a tenth of a second from now, then
    // a second after each writing.
    void StartClock();

private:
    int FixedPaneWidth() const;
    void OnClockTimer();

    QLabel* m_panes[kPaneCount] = {};
    QLabel* m_mode;
    QTimer m_clockTimer;
};

} // namespace kestrel
