#include "ui/ToolBar.h"

#include "ui/ClassroomLinks.h"
#include "ui/ToolbarPicture.h"

#include <QTextDocument>
#include <QToolButton>

#include <iterator>

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

QList<QAction*> CToolBar::AddNavigationButtons(int firstCommand)
{
    // In the order of the pictures in the navigation strips.
    const char* const captions[] = {"后退", "前进", "停止", "刷新"};
    const QList<QPixmap> normal = CutPictureStrip(QImage(QStringLiteral(":/kestrel/navigation-normal.bmp")));
    const QList<QPixmap> hot = CutPictureStrip(QImage(QStringLiteral(":/kestrel/navigation-hot.bmp")));
    QList<QAction*> buttons;
    for (int i = 0; i < int(std::size(captions)); ++i) {
        const QString caption = QString::fromUtf8(captions[i]);
        buttons.append(AddButton(firstCommand + i, ButtonIcon(normal.value(i), hot.value(i)), caption, caption));
        buttons.last()->setEnabled(false);
    }
    return buttons;
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

void CToolBar::ShowLinkButtons(int firstCommand, const QList<LinkButtonFace>& faces)
{
    for (int i = 0; i < faces.size(); ++i) {
        const int command = firstCommand + i;
        QAction* button = Button(command);
        if (!button) {
            button = AddButton(command, QIcon(), QString(), QString());
            connect(button, &QAction::triggered, this, [this, command] { emit LinkCommand(command); });
        }
        // Names and captions are the broadcaster's text, never markup or
        // keyboard shortcuts.
        button->setText(QString(faces[i].name).replace(QLatin1Char('&'), QLatin1String("&&")));
        button->setToolTip(Qt::convertFromPlainText(faces[i].caption));
        button->setIcon(faces[i].icon);
    }
    // The buttons of links that left go; the rest moved up.
    for (int command = firstCommand + int(faces.size()); QAction* button = Button(command); ++command)
        delete button;
}

void CToolBar::ShowLinkIcons(int firstCommand, const QList<QIcon>& icons)
{
    for (int i = 0; i < icons.size(); ++i) {
        if (QAction* button = Button(firstCommand + i))
            button->setIcon(icons[i]);
    }
}

} // namespace kestrel
