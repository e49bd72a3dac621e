#pragma once

#include <QLabel>
#include <QTimer>

namespace kestrel {

// One line drawn over the top of a widget for a few seconds, then gone by
// itself; the widget underneath is left as it is.
class CShortNote : public QLabel {
    Q_OBJECT

public:
    explicit CShortNote(QWidget* over);

    void Show(const QString& text, int milliseconds);

private:
    QTimer m_hide;
};

} // namespace kestrel
