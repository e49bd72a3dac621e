#include "app/SingleInstance.h"

#include "base/ConsoleLine.h"

#include <QFileInfo>
#include <QLocalSocket>

#include <unistd.h>

namespace kestrel {

namespace {

constexpr int kKnockTimeout = 2000; // ms

} // namespace

QString CSingleInstance::InstanceKey(const QString& programPath)
{
    return QFileInfo(programPath).completeBaseName();
}

CSingleInstance::CSingleInstance(const QString& key, const QString& folder, QObject* parent)
    : QObject(parent)
    , m_lock(folder + QLatin1Char('/') + key + QStringLiteral(".lock"))
    , m_serverName(folder + QLatin1Char('/') + key + QLatin1Char('-') + QString::number(geteuid()))
{
    // The lock is held for the whole run: only a dead owner makes it stale,
    // never its age.
    m_lock.setStaleLockTime(0);
    connect(&m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
}

bool CSingleInstance::TryClaim()
{
    if (!m_lock.tryLock()) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return false;
        // Without a usable runtime directory the browser still starts, only
        // unguarded.
        PrintLine(QStringLiteral("Cannot create the lock file %1: starting without the single-instance check")
                      .arg(LockFilePath())
                      .toStdString());
        return true;
    }
    // A socket left by a crashed instance would keep the name taken; the
    // lock says that instance is gone.
    QLocalServer::removeServer(m_serverName);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_serverName))
        PrintLine(QStringLiteral("Cannot listen on %1: %2").arg(m_serverName, m_server.errorString()).toStdString());
    return true;
}

void CSingleInstance::AskRunningInstanceToComeForward()
{
    // Connecting is the whole request.
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (socket.waitForConnected(kKnockTimeout))
        socket.disconnectFromServer();
}

QString CSingleInstance::LockFilePath() const
{
    return m_lock.fileName();
}

void CSingleInstance::OnNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->deleteLater();
        emit ComeForwardRequested();
    }
}

} // namespace kestrel
