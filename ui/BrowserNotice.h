#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace kestrel {

// A calm notice drawn by the window over the whole browser area: a title,
// a few lines and, when asked for, one button. It is no page: the history
// and the page underneath stay as they are.
class CBrowserNotice : public QFrame {
    Q_OBJECT

public:
    // `titleScale`: the title's size against the text's.
    explicit CBrowserNotice(QWidget* browser, double titleScale = 1.6);

    // Shows the notice; `button` empty shows none.
    void Show(const QString& title, const QString& text, const QString& button = QString());
    QString Title() const;
    QString Text() const;

signals:
    void ButtonClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_text;
    QPushButton* m_button;
};

} // namespace kestrel
