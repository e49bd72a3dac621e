#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace kestrel {

class CStatusBar;

// Watches the window's event loop from inside it: how long, at most, it went
// without a sign of life. Each sign is marked with the time it was seen.
class LifeSigns {
public:
    LifeSigns() { m_since.start(); }
    void Mark() { m_marks.append(m_since.elapsed()); }
    // The longest stretch without a mark, up to now (the stretch before the
    // first mark and the one after the last count too).
    qint64 LongestSilenceMs() const;
    int Count() const { return static_cast<int>(m_marks.size()); }
    // The marks, in milliseconds from the start, for failure messages.
    QString Describe() const;

private:
    QElapsedTimer m_since;
    QList<qint64> m_marks;
};

// Samples the clock pane every 100 ms on the window's own event loop and
// marks every change of its text: the clock ticked.
class ClockWatch : public QObject {
public:
    explicit ClockWatch(const CStatusBar& statusBar);
    // Stops sampling, so the silence is measured up to now.
    void Stop() { m_sampler.stop(); }
    const LifeSigns& Ticks() const { return m_ticks; }

private:
    const CStatusBar& m_statusBar;
    QString m_shown;
    LifeSigns m_ticks;
    QTimer m_sampler;
};

// A timer of the test's own on the window's event loop, due every period:
// how late it comes shows how promptly the loop serves its timers.
class Ping : public QObject {
public:
    explicit Ping(int periodMs);
    void Stop() { m_timer.stop(); }
    const LifeSigns& Pongs() const { return m_pongs; }

private:
    LifeSigns m_pongs;
    QTimer m_timer;
};

} // namespace kestrel
