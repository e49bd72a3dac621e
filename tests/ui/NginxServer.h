#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

namespace kestrel {

// A real nginx on 127.0.0.1, started by the test as one foreground process
// with a configuration of its own: everything it writes (pid, logs,
// temporary files) stays in a folder of its own, so it runs as root and as
// any other user alike. It is stopped when the object goes.
class NginxServer {
public:
    // One request as the access log has it.
    struct Request {
        QByteArray path;
        int status = 0;
        double seconds = 0;
        // Body bytes sent, fewer than the body's length when the client left.
        qint64 bodyBytes = 0;
        // The Accept-Encoding header, "-" when none was sent.
        QByteArray acceptEncoding;
    };

    // The nginx program, or empty when it is not installed.
    static QString Program();

    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The folder it serves; fill it before or after starting.
    QString Root() const;
    // Starts nginx with these directives inside its server block, on a free
    // port, and waits until it answers. False (with the reason in Error())
    // when it would not start.
    bool Start(const QByteArray& serverDirectives);
    QUrl Url(const QString& path) const;
    QString Error() const { return m_error; }
    // Every request answered so far, in order.
    QList<Request> Requests() const;

private:
    bool StartOnPort(const QByteArray& serverDirectives, quint16 port);
    bool WaitUntilAnswering();
    void Stop();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace kestrel
