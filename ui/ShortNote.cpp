#include "ui/ShortNote.h"

namespace kestrel {

namespace {

constexpr int kTopMargin = 16;

} // namespace

CShortNote::CShortNote(QWidget* over)
    : QLabel(over)
{
    setObjectName(QStringLiteral("shortNote"));
    setTextFormat(Qt::PlainText);
    setMargin(10);
    setStyleSheet(QStringLiteral("background: #FFF8E1; color: #333A44; border: 1px solid #E0C878; border-radius: 4px;"));
    m_hide.setSingleShot(true);
    connect(&m_hide, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

void CShortNote::Show(const QString& text, int milliseconds)
{
    setText(text);
    adjustSize();
    move((parentWidget()->width() - width()) / 2, kTopMargin);
    show();
    raise();
    m_hide.start(milliseconds);
}

} // namespace kestrel
