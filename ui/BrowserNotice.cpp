#include "ui/BrowserNotice.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrel {

CBrowserNotice::CBrowserNotice(QWidget* browser, double titleScale)
    : QFrame(browser)
    , m_title(new QLabel(this))
    , m_text(new QLabel(this))
    , m_button(new QPushButton(this))
{
    setObjectName(QStringLiteral("browserNotice"));
    setAutoFillBackground(true);
    QPalette calm = palette();
    calm.setColor(QPalette::Window, QColor(0xF4, 0xF6, 0xF8));
    calm.setColor(QPalette::WindowText, QColor(0x33, 0x3A, 0x44));
    setPalette(calm);
    QFont titleFont = m_title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * titleScale);
    m_title->setFont(titleFont);
    for (QLabel* label : {m_title, m_text}) {
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        // The notice's texts are the program's own, never markup from outside.
        label->setTextFormat(Qt::PlainText);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(2);
    layout->addWidget(m_title);
    layout->addSpacing(16);
    layout->addWidget(m_text);
    layout->addSpacing(16);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addStretch(3);
    connect(m_button, &QPushButton::clicked, this, &CBrowserNotice::ButtonClicked);
    browser->installEventFilter(this);
    hide();
}

void CBrowserNotice::Show(const QString& title, const QString& text, const QString& button)
{
    m_title->setText(title);
    m_text->setText(text);
    m_button->setText(button);
    m_button->setVisible(!button.isEmpty());
    setGeometry(parentWidget()->rect());
    show();
    raise();
}

QString CBrowserNotice::Title() const
{
    return m_title->text();
}

QString CBrowserNotice::Text() const
{
    return m_text->text();
}

bool CBrowserNotice::eventFilter(QObject* watched, QEvent* event)
{
    // The engine adds its drawing surface late; the notice stays on top of it.
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded)) {
        setGeometry(parentWidget()->rect());
        if (isVisible())
            raise();
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace kestrel
