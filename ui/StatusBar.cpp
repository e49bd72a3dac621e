#include "ui/StatusBar.h"

#include "ui/ClockText.h"

#include <QLabel>

namespace kestrel {

namespace {

constexpr int kTextMargin = 4;
constexpr int kFirstTick = 100;
constexpr int kTick = 1000;

bool IsPane(int pane)
{
    return pane >= 0 && pane < CStatusBar::kPaneCount;
}

} // namespace

CStatusBar::CStatusBar(QWidget* parent)
    : QStatusBar(parent)
    , m_mode(new QLabel(this))
{
    setObjectName(QStringLiteral("statusBar"));
    for (int pane = 0; pane < kPaneCount; ++pane) {
        m_panes[pane] = new QLabel(this);
        m_panes[pane]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panes[pane]->setContentsMargins(kTextMargin, 0, kTextMargin, 0);
    }
    // A long address in pane 0 is cut, it never widens the window.
    m_panes[0]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(m_panes[0], 1);
    for (int pane = 1; pane < kPaneCount; ++pane) {
        m_panes[pane]->setFixedWidth(FixedPaneWidth());
        addPermanentWidget(m_panes[pane]);
    }
    m_mode->setObjectName(QStringLiteral("classroomMode"));
    m_mode->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_mode->setContentsMargins(kTextMargin, 0, kTextMargin, 0);
    insertPermanentWidget(1, m_mode);
    m_mode->hide();
}

void CStatusBar::ShowMode(const QString& name)
{
    m_mode->setText(name);
    m_mode->setVisible(!name.isEmpty());
}

QString CStatusBar::ModeShown() const
{
    return m_mode->isHidden() ? QString() : m_mode->text();
}

void CStatusBar::SetPaneText(int pane, const QString& text)
{
    if (IsPane(pane) && m_panes[pane]->text() != text)
        m_panes[pane]->setText(text);
}

void CStatusBar::SetProgress(qint64 done, qint64 total)
{
    SetPaneText(1, QString::asprintf("%lu/%lu", static_cast<unsigned long>(done), static_cast<unsigned long>(total)));
}

void CStatusBar::StartClock()
{
    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &CStatusBar::OnClockTimer);
    m_clockTimer.start(kFirstTick);
}

void CStatusBar::OnClockTimer()
{
    SetPaneText(2, ClockText(QDateTime::currentDateTime()));
    m_clockTimer.start(kTick);
}

QString CStatusBar::GetPaneText(int pane) const
{
    return IsPane(pane) ? m_panes[pane]->text() : QString();
}

int CStatusBar::PaneWidth(int pane) const
{
    return IsPane(pane) ? m_panes[pane]->width() : 0;
}

int CStatusBar::FixedPaneWidth() const
{
    // Measured with the widest digit in every place, so no time is ever cut.
    const QFontMetrics metrics = m_panes[1]->fontMetrics();
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit) {
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(digit);
    }
    QString sample = ClockText(QDateTime(QDate(2000, 10, 10), QTime(10, 10, 10)));
    for (QChar& c : sample) {
        if (c.isDigit())
            c = widest;
    }
    const int needed = metrics.horizontalAdvance(sample) + 2 * kTextMargin + 2 * m_panes[1]->frameWidth();
    return qMax(kPaneWidth, needed);
}

} // namespace kestrel
