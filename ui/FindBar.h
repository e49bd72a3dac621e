#pragma once

#include <QToolBar>

class QLabel;
class QLineEdit;
class QWebEngineView;

namespace kestrel {

// The small find bar under the page (Ctrl+F): the text typed is looked for
// as it is typed, Enter finds the next, Shift+Enter the one before.
// Closing it clears the marks in the page.
class CFindBar : public QToolBar {
    Q_OBJECT

public:
    CFindBar(QWebEngineView* view, QWidget* parent);

    // Shows the bar with the focus in its text field.
    void Open();
    void Close();
    QString SearchText() const;
    // "3/7" style: the match shown and the number of matches; empty before a search.
    QString MatchText() const;

private:
    void Find(bool backward);

    QWebEngineView* m_view;
    QLineEdit* m_text;
    QLabel* m_matches;
};

} // namespace kestrel
