#pragma once

#include <QList>
#include <QToolBar>

namespace kestrel {

struct LinkButtonFace;

// The window's flat toolbar: buttons of 43 x 43 pixels with a 24 x 24
// picture and the caption under it, each known by its command number.
// The navigation buttons come first; link buttons follow them.
class CToolBar : public QToolBar {
    Q_OBJECT

public:
    static constexpr int kButtonSize = 43;

    explicit CToolBar(QWidget* parent = nullptr);

    // Appends back, forward, stop and refresh, disabled, with commands
    // firstCommand to firstCommand + 3, in that order.
    QList<QAction*> AddNavigationButtons(int firstCommand);
    // Appends a button; its action triggers the command.
    QAction* AddButton(int commandId, const QIcon& icon, const QString& caption, const QString& toolTip);
    // The button's action, or nullptr when no button has that command.
    QAction* Button(int commandId) const;
    void EnableButton(int commandId, bool enable);
    bool IsButtonEnabled(int commandId) const;

    // The link buttons from command firstCommand on, one per face, in link
    // order: buttons missing are appended, every button shows its face.
    void ShowLinkButtons(int firstCommand, const QList<LinkButtonFace>& faces);
    void ShowLinkIcons(int firstCommand, const QList<QIcon>& icons);

signals:
    // A link button was clicked.
    void LinkCommand(int commandId);
};

} // namespace kestrel
