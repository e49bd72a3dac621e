#pragma once

#include <QObject>

class QSocketNotifier;

namespace kestrel {

// SIGTERM, the system's request to end (shutdown, a service manager, kill),
// turned into a signal on the window's thread, so the program ends in order
// instead of dying where it stands. One per process.
class CTerminationSignal : public QObject {
    Q_OBJECT

public:
    explicit CTerminationSignal(QObject* parent = nullptr);
    ~CTerminationSignal() override;

signals:
    void Received();

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kestrel
