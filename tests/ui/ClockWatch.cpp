#include "tests/ui/ClockWatch.h"

#include "ui/StatusBar.h"

#include <QStringList>

namespace kestrel {

namespace {

constexpr int kClockPane = 2;
constexpr int kSamplePeriodMs = 100;

} // namespace

qint64 LifeSigns::LongestSilenceMs() const
{
    qint64 longest = 0;
    qint64 previous = 0;
    for (qint64 mark : m_marks) {
        longest = qMax(longest, mark - previous);
        previous = mark;
    }
    return qMax(longest, m_since.elapsed() - previous);
}

QString LifeSigns::Describe() const
{
    QStringList marks;
    for (qint64 mark : m_marks)
        marks.append(QString::number(mark));
    return QStringLiteral("%1 signs at ms %2, longest silence %3 ms")
        .arg(m_marks.size())
        .arg(marks.join(QLatin1Char(',')))
        .arg(LongestSilenceMs());
}

ClockWatch::ClockWatch(const CStatusBar& statusBar) : m_statusBar(statusBar), m_shown(statusBar.GetPaneText(kClockPane))
{
    connect(&m_sampler, &QTimer::timeout, this, [this] {
        const QString now = m_statusBar.GetPaneText(kClockPane);
        if (now != m_shown) {
            m_shown = now;
            m_ticks.Mark();
        }
    });
    m_sampler.start(kSamplePeriodMs);
}

Ping::Ping(int periodMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_pongs.Mark(); });
    m_timer.start(periodMs);
}

} // namespace kestrel
