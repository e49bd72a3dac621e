#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

namespace kestrel {

// One running instance per instance key and user. The first start holds a
// lock file named by the key and listens on a local socket named by the key
// and the user; a later start that finds the lock taken knocks on that
// socket and gives way. A lock left behind by a crashed instance is taken
// over.
class CSingleInstance : public QObject {
    Q_OBJECT

public:
    // The key of a program file: its name without directory and extension,
    // so that copies under other names run side by side.
    static QString InstanceKey(const QString& programPath);

    // `folder` holds the lock and the socket: the user's runtime directory.
    CSingleInstance(const QString& key, const QString& folder, QObject* parent = nullptr);

    // True when this process is the instance and now listens for later
    // starts; false when another instance holds the key.
    bool TryClaim();
    // Asks the running instance to come forward. Gives up quietly when it
    // does not answer (it may still be starting).
    void AskRunningInstanceToComeForward();

    QString LockFilePath() const;
    QString ServerName() const { return m_serverName; }

signals:
    void ComeForwardRequested();

private:
    void OnNewConnection();

    QLockFile m_lock;
    QString m_serverName;
    QLocalServer m_server;
};

} // namespace kestrel
