#include "ui/FindBar.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWebEngineFindTextResult>
#include <QWebEngineView>

namespace kestrel {

CFindBar::CFindBar(QWebEngineView* view, QWidget* parent)
    : QToolBar(parent)
    , m_view(view)
    , m_text(new QLineEdit(this))
    , m_matches(new QLabel(this))
{
    setObjectName(QStringLiteral("findBar"));
    setMovable(false);
    setFloatable(false);
    addWidget(new QLabel(QStringLiteral("查找："), this));
    m_text->setObjectName(QStringLiteral("findText"));
    m_text->setClearButtonEnabled(true);
    m_text->setMaximumWidth(320);
    addWidget(m_text);
    addAction(QStringLiteral("上一个"), this, [this] { Find(true); });
    addAction(QStringLiteral("下一个"), this, [this] { Find(false); });
    addWidget(m_matches);
    addAction(QStringLiteral("关闭"), this, &CFindBar::Close);
    connect(m_text, &QLineEdit::textEdited, this, [this] { Find(false); });
    connect(m_text, &QLineEdit::returnPressed, this, [this] { Find(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier); });
    connect(m_view->page(), &QWebEnginePage::findTextFinished, this, [this](const QWebEngineFindTextResult& result) {
        if (m_text->text().isEmpty() || isHidden())
            return;
        m_matches->setText(result.numberOfMatches() == 0
                               ? QStringLiteral("无结果")
                               : QStringLiteral("%1/%2").arg(result.activeMatch()).arg(result.numberOfMatches()));
    });
    hide();
}

void CFindBar::Open()
{
    show();
    m_text->setFocus();
    m_text->selectAll();
}

void CFindBar::Close()
{
    hide();
    m_matches->clear();
    m_view->findText(QString());
    m_view->setFocus();
}

QString CFindBar::SearchText() const
{
    return m_text->text();
}

QString CFindBar::MatchText() const
{
    return m_matches->text();
}

void CFindBar::Find(bool backward)
{
    if (m_text->text().isEmpty()) {
        m_matches->clear();
        m_view->findText(QString());
        return;
    }
    m_view->findText(m_text->text(), backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

} // namespace kestrel
