#include "ui/ChannelPump.h"

#include "base/StateFolder.h"
#include "channel/LinkReceiver.h"
#include "config/ChannelSettings.h"

#include <QSocketNotifier>

namespace kestrel {

CChannelPump::CChannelPump(CLinkReceiver& receiver, QObject* parent)
    : QObject(parent)
    , m_receiver(receiver)
{
    connect(&m_retryTimer, &QTimer::timeout, this, &CChannelPump::OnRetryTimer);
}

CChannelPump::~CChannelPump()
{
    Close();
}

long CChannelPump::Open(const std::string& settingsPath)
{
    ChannelSettings channel;
    if (!ReadChannelSettings(settingsPath, channel))
        return 0;
    m_receiver.RequireSignatures(channel.trustedKeysPath, UserStateFolder());
    m_receiver.Start(channel.bindAddress, channel.port, this, channel.multicastGroup);
    if (m_receiver.IsWaiting())
        m_retryTimer.start(CChannelSocket::kRetryIntervalMs);
    return channel.port;
}

void CChannelPump::ReadDatagram()
{
    if (m_socketNotifier)
        m_receiver.OnSocketNotify(static_cast<std::uintptr_t>(m_socketNotifier->socket()), CChannelSocket::kReadEvent);
}

void CChannelPump::Close()
{
    m_retryTimer.stop();
    m_receiver.Close();
}

void CChannelPump::WatchSocket(int socket)
{
    m_socketNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(m_socketNotifier, &QSocketNotifier::activated, this, &CChannelPump::SocketMessage);
}

void CChannelPump::UnwatchSocket(int)
{
    if (!m_socketNotifier)
        return;
    // Closing can come from inside a notification; the notifier goes when
    // the event loop is back.
    m_socketNotifier->setEnabled(false);
    m_socketNotifier->deleteLater();
    m_socketNotifier = nullptr;
}

void CChannelPump::OnRetryTimer()
{
    m_receiver.Retry();
    if (!m_receiver.IsWaiting())
        m_retryTimer.stop();
}

} // namespace kestrel
