#include "tests/ui/NginxServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr int kStartAttempts = 3;
constexpr int kAnswerTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;

// Path, status, seconds taken, body bytes sent and Accept-Encoding of each
// request, one line each; none of them holds a blank.
const char kLogFormat[] =
    "log_format requests '$request_uri $status $request_time $body_bytes_sent $http_accept_encoding';\n";

quint16 FreeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

QString NginxServer::Program()
{
    // Debian keeps it in /usr/sbin, which a normal user's PATH may lack.
    return QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

NginxServer::NginxServer()
{
    QDir(m_dir.path()).mkdir(QStringLiteral("root"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test that dies without stopping it (a crash, a time-out's kill)
    // takes nginx with it.
    m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

NginxServer::~NginxServer()
{
    Stop();
}

QString NginxServer::Root() const
{
    return m_dir.filePath(QStringLiteral("root"));
}

bool NginxServer::Start(const QByteArray& serverDirectives)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    // The port is free when probed; another program may take it before
    // nginx binds it, so a failed start tries another one.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (StartOnPort(serverDirectives, FreeTcpPort()))
            return true;
    }
    return false;
}

bool NginxServer::StartOnPort(const QByteArray& serverDirectives, quint16 port)
{
    m_port = port;
    const QByteArray dir = QFile::encodeName(m_dir.path());
    QByteArray config = "daemon off;\nmaster_process off;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
        "/error.log warn;\n";
    // As root nginx would otherwise look up the nobody user and hand the
    // temporary folders to it; the one process never changes its user.
    if (geteuid() == 0)
        config += "user root;\n";
    config += "events { worker_connections 64; }\nhttp {\n";
    config += kLogFormat;
    config += "access_log " + dir + "/access.log requests;\n";
    for (const char* temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QByteArray(temporary) + "_temp_path " + dir + "/" + temporary + ";\n";
    config += "types { image/bmp bmp; text/html html; }\ndefault_type application/octet-stream;\n";
    config += "server {\nlisten 127.0.0.1:" + QByteArray::number(port) + ";\nroot " + QFile::encodeName(Root()) +
        ";\n" + serverDirectives + "\n}\n}\n";

    QFile file(m_dir.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        m_error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();

    m_process.start(Program(), {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-c"), file.fileName(),
                                QStringLiteral("-e"), m_dir.filePath(QStringLiteral("error.log"))});
    if (!m_process.waitForStarted()) {
        m_error = m_process.errorString();
        return false;
    }
    if (WaitUntilAnswering())
        return true;
    QFile errors(m_dir.filePath(QStringLiteral("error.log")));
    errors.open(QIODevice::ReadOnly);
    m_error = QString::fromLocal8Bit(m_process.readAll() + errors.readAll());
    Stop();
    return false;
}

bool NginxServer::WaitUntilAnswering()
{
    const QDeadlineTimer deadline(kAnswerTimeoutMs);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(100))
            return m_process.state() == QProcess::Running;
        m_process.waitForFinished(100);
    }
    return false;
}

void NginxServer::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // SIGTERM: nginx closes its connections and ends at once.
    m_process.terminate();
    if (!m_process.waitForFinished(kStopTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopTimeoutMs);
    }
}

QUrl NginxServer::Url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

QList<NginxServer::Request> NginxServer::Requests() const
{
    QFile log(m_dir.filePath(QStringLiteral("access.log")));
    QList<Request> requests;
    if (!log.open(QIODevice::ReadOnly))
        return requests;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 5)
            requests.append({fields[0], fields[1].toInt(), fields[2].toDouble(), fields[3].toLongLong(), fields[4]});
    }
    return requests;
}

} // namespace kestrel
