// Start-up of the window: from building it to the first request for the
// home page, with the memory of the program and its engine processes then,
// against a bare web-engine view opening the same page in the same run.
// Without a screen: the offscreen platform, the engine without sandbox or GPU.

#include "catalogue/HomeUrl.h"
#include "channel/LinkReceiver.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"
#include "config/SettingsPath.h"
#include "ui/MainDlg.h"

#include "bench/WindowBenchMain.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <unistd.h>

#include <chrono>
#include <memory>

namespace kestrel {
namespace {

constexpr int kFirstRequestTimeoutMs = 60000;

// Counts the connections that asked for something; answers with a small page.
class FirstRequestServer : public QObject {
public:
    FirstRequestServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    ++requests;
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 22\r\n"
                                  "Connection: close\r\n\r\n<html>lesson one</html>");
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/home.html").arg(m_server.serverPort()); }
    int requests = 0;

private:
    QTcpServer m_server;
};

// Resident memory of this process and the engine processes it started, in MiB.
double ResidentMiB()
{
    const long pageKiB = sysconf(_SC_PAGESIZE) / 1024;
    const auto resident = [pageKiB](const QString& pid) {
        QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
        if (!statm.open(QIODevice::ReadOnly))
            return 0L;
        return statm.readAll().split(' ').value(1).toLong() * pageKiB;
    };
    const QString self = QString::number(getpid());
    long kib = resident(self);
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (pid == self || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the parent follows the closing bracket.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self.toLatin1())
            kib += resident(pid);
    }
    return kib / 1024.0;
}

// Waits for the first request after `start`; false after the time-out.
bool WaitForFirstRequest(FirstRequestServer& server, int before, benchmark::State& state, const QElapsedTimer& start)
{
    while (server.requests == before) {
        if (start.elapsed() > kFirstRequestTimeoutMs) {
            state.SkipWithError("no request for the page");
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    state.SetIterationTime(static_cast<double>(start.nsecsElapsed()) / 1e9);
    return true;
}

void BM_WindowToFirstPageRequest(benchmark::State& state)
{
    FirstRequestServer server;
    QTemporaryDir folder;
    const std::string settings = SettingsPathFor(QFile::encodeName(folder.filePath(QStringLiteral("kestrel"))).toStdString());
    WriteProfileString(settings, kSettingsSection, kMainChannelPortKey, "0");
    WriteProfileString(settings, kBroadcastBindSection, kBindAddressKey, "127.0.0.1");
    CLinkReceiver receiver;
    double memory = 0;
    for (auto _ : state) {
        const int before = server.requests;
        HomeUrl() = server.Url().toStdString();
        QElapsedTimer start;
        start.start();
        auto window = std::make_unique<CMainDlg>(settings, receiver);
        window->NavigateHome();
        if (!WaitForFirstRequest(server, before, state, start))
            break;
        memory = ResidentMiB();
    }
    HomeUrl().clear();
    state.counters["resident_MiB"] = memory;
}

void BM_BareViewToFirstPageRequest(benchmark::State& state)
{
    FirstRequestServer server;
    double memory = 0;
    for (auto _ : state) {
        const int before = server.requests;
        QElapsedTimer start;
        start.start();
        auto view = std::make_unique<QWebEngineView>();
        view->show();
        view->load(QUrl(server.Url()));
        if (!WaitForFirstRequest(server, before, state, start))
            break;
        memory = ResidentMiB();
    }
    state.counters["resident_MiB"] = memory;
}

// The bare view first: the engine's own start-up is then paid by it, as the
// first window of a run pays it.
BENCHMARK(BM_BareViewToFirstPageRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WindowToFirstPageRequest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    return kestrel::bench::RunWindowBenchmarks(argc, argv);
}
