#pragma once

#include "channel/SocketOwner.h"

#include <QObject>
#include <QTimer>

#include <string>

class QSocketNotifier;

namespace kestrel {

class CLinkReceiver;

// Keeps the link receiver's socket going on the window's thread: watches it
// for datagrams, and retries the bind address and the multicast group while
// the channel waits for its card or its group.
class CChannelPump : public QObject, public CSocketOwner {
    Q_OBJECT

public:
    CChannelPump(CLinkReceiver& receiver, QObject* parent = nullptr);
    // The receiver outlives the pump: it must not report to it any more.
    ~CChannelPump() override;

    // Opens the channel the settings file at settingsPath names and gives
    // its port; 0 when the settings name none. When the channel cannot be
    // opened, the receiver has said why on standard output.
    long Open(const std::string& settingsPath);
    // Reads the datagram that waits, one per readiness.
    void ReadDatagram();
    void Close();

signals:
    // A datagram waits: the window's OnSocketMessage hands it back to
    // ReadDatagram.
    void SocketMessage();

private:
    void WatchSocket(int socket) override;
    void UnwatchSocket(int socket) override;
    void OnRetryTimer();

    CLinkReceiver& m_receiver;
    QSocketNotifier* m_socketNotifier = nullptr;
    // Runs only while the channel waits for its card or its group.
    QTimer m_retryTimer;
};

} // namespace kestrel
