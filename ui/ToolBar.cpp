#include "ui/ToolBar.h"

#include "ui/ButtonPicture.h"

#include <QToolButton>

namespace kestrel {

CToolBar::CToolBar(QWidget* parent)
    : QToolBar(parent)
{
    setObjectName(QStringLiteral("toolBar"));
    setMovable(false);
    setFloatable(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setIconSize(QSize(kButtonPictureSize, kButtonPictureSize));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

QAction* CToolBar::AddButton(int commandId, const QIcon& icon, const QString& caption, const QString& toolTip)
{
    QAction* action = addAction(icon, caption);
    action->setData(commandId);
    action->setToolTip(toolTip);
    if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action))) {
        button->setFixedSize(kButtonSize, kButtonSize);
        button->setAutoRaise(true);
    }
    return action;
}

QAction* CToolBar::Button(int commandId) const
{
    for (QAction* action : actions()) {
        if (action->data().toInt() == commandId)
            return action;
    }
    return nullptr;
}

void CToolBar::EnableButton(int commandId, bool enable)
{
    if (QAction* action = Button(commandId))
        action->setEnabled(enable);
}

bool CToolBar::IsButtonEnabled(int commandId) const
{
    const QAction* action = Button(commandId);
    return action && action->isEnabled();
}

} // namespace kestrel
