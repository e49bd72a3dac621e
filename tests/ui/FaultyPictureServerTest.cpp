// The real main window against a real web server from the distribution,
// nginx, serving button pictures in every way a school's server might get
// wrong: compressed, chunked, error pages, too slow, redirected in circles.
// Each fault costs only its own link's picture, the clock keeps ticking
// throughout, and a link announced after all of them gets its picture.

#include "catalogue/HomeUrl.h"
#include "net/FetchLimits.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/TestHttpServer.h"
#include "tests/ui/ClockWatch.h"
#include "tests/ui/NginxServer.h"
#include "tests/ui/TestPictures.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace kestrel {

namespace {

constexpr int kStartTimeout = 15000;
// The picture tests of a pass end within one request time-out, and the
// rebuild after them within another.
constexpr int kPassTimeout = 2 * (kRequestTimeoutMs + kBatchGraceMs) + 10000;
constexpr int kRawAnswerTimeoutMs = 5000;
// The clock is rewritten once a second (a little more, as each tick is armed
// after the last one's work) and sampled every 100 ms; the rest of the
// margin is for a loaded two-core machine. A window held by a fetch would
// stay silent for a whole request time-out, 5 s.
constexpr int kLongestClockSilenceMs = 2500;
// An error page long enough to count as a body.
constexpr int kErrorPageSize = 1200;
// The picture announces more than it sends before the connection closes.
constexpr int kCutAnnouncedLength = 4000;
const QPoint kMiddle(kButtonPictureSize / 2, kButtonPictureSize / 2);

// Bytes per second: a picture (1782 bytes and the header) takes about two
// seconds at the slow rate and about ten at the too slow one.
const char kServerDirectives[] = R"(
location /gzip/ { gzip on; gzip_types image/bmp; gzip_min_length 100; }
location /chunked/ { ssi on; ssi_types image/bmp; }
location /slow/ { limit_rate 1000; }
location /too-slow/ { limit_rate 200; }
location /errors/ { internal; }
location = /gone.bmp { error_page 404 /errors/gone.html; return 404; }
location = /broken.bmp { error_page 500 /errors/broken.html; return 500; }
location = /lost.bmp { error_page 404 /errors/lost.bmp; return 404; }
location = /moved.bmp { return 302 /redirected.bmp; }
location = /loop-start.bmp { return 302 /loop-a.bmp; }
location = /loop-a.bmp { return 302 /loop-b.bmp; }
location = /loop-b.bmp { return 302 /loop-a.bmp; }
)";

enum class Server { Nginx, Cutting };

// One link whose picture address meets one kind of answer.
struct PictureCase {
    const char* name;
    Server server;
    // What the picture address asks for.
    const char* path;
    // Where the link's own picture lies in the served folder, if anywhere;
    // a fault that let it through would show its colour.
    const char* file;
    bool arrives;
};

const PictureCase kCases[] = {
    {"plain", Server::Nginx, "/plain.bmp", "plain.bmp", true},
    // The fetcher asks for no encoding, so nginx sends the picture as it is.
    {"gzip", Server::Nginx, "/gzip/picture.bmp", "gzip/picture.bmp", true},
    // No length header: refused.
    {"chunked", Server::Nginx, "/chunked/picture.bmp", "chunked/picture.bmp", false},
    // nginx's own error page is shorter than 1000 bytes: refused.
    {"missing", Server::Nginx, "/missing.bmp", nullptr, false},
    // Long error pages count as bodies, but they are no pictures.
    {"gone", Server::Nginx, "/gone.bmp", nullptr, false},
    {"broken", Server::Nginx, "/broken.bmp", nullptr, false},
    // The status is not looked at: an error page that is a picture shows.
    {"lost", Server::Nginx, "/lost.bmp", "errors/lost.bmp", true},
    {"slow", Server::Nginx, "/slow/picture.bmp", "slow/picture.bmp", true},
    {"too-slow", Server::Nginx, "/too-slow/picture.bmp", "too-slow/picture.bmp", false},
    // The whole picture, but fewer bytes than announced: refused.
    {"cut", Server::Cutting, "/cut.bmp", nullptr, false},
    {"moved", Server::Nginx, "/moved.bmp", "redirected.bmp", true},
    {"loop", Server::Nginx, "/loop-start.bmp", nullptr, false},
};
constexpr int kCaseCount = int(std::size(kCases));
const PictureCase kLater = {"later", Server::Nginx, "/later.bmp", "later.bmp", true};

// Each link's own colour, none of them near the transparent magenta.
QColor CaseColour(int index)
{
    return QColor::fromHsv(index * 360 / (kCaseCount + 1), 255, 200);
}

QByteArray ErrorPage(const char* title)
{
    const QByteArray head = "<html><head><title>" + QByteArray(title) + "</title></head><body><p>";
    const QByteArray tail = "</p></body></html>\n";
    return head + QByteArray(kErrorPageSize - head.size() - tail.size(), 'x') + tail;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The status and headers (names in lower case) of one answer.
struct AnswerHead {
    int status = 0;
    QHash<QByteArray, QByteArray> headers;
};

// Asks like a plain HTTP/1.1 client, with any extra header lines, and reads
// the whole answer: nginx closes the connection only after it has logged the
// request, so the log is complete when this returns.
AnswerHead RawAnswerHead(const QUrl& url, const QByteArray& extraHeaders = QByteArray())
{
    AnswerHead head;
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(kRawAnswerTimeoutMs))
        return head;
    socket.write("GET " + url.path().toLatin1() + " HTTP/1.1\r\nHost: " + url.authority().toLatin1() +
                 "\r\nConnection: close\r\n" + extraHeaders + "\r\n");
    QByteArray answer;
    const QDeadlineTimer deadline(kRawAnswerTimeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        answer += socket.readAll();
    }
    const QList<QByteArray> lines = answer.left(answer.indexOf("\r\n\r\n")).split('\n');
    head.status = lines.value(0).split(' ').value(1).toInt();
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            head.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return head;
}

} // namespace

class FaultyPictureServerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void nginxAnswersWithTheFaultsItWasGiven();
    void everyFaultCostsOnlyItsOwnPictureWhileTheClockTicks();

private:
    QUrl PictureUrl(const PictureCase& pictureCase) const;
    void Announce(const PictureCase& pictureCase);
    QAction* LinkButton(int k) const { return ToolBarOf(*m_dlg)->Button(CMainDlg::ID_LINK_FIRST - 1 + k); }
    int LinkButtonCount() const { return ToolBarOf(*m_dlg)->actions().size() - 4; }
    // The buttons come at once; their pictures once the tests have ended.
    bool PicturesEnded(int links) const
    {
        return LinkButtonCount() == links && !LinksOf(*m_dlg)->Catalogue().AwaitingPictureTests();
    }
    void VerifyButtonPicture(int k, const PictureCase& pictureCase, const QColor& colour);
    // What nginx answered since the window started.
    QList<NginxServer::Request> WindowRequests() const { return m_nginx->Requests().mid(m_requestsBefore); }
    int RequestCount(const QByteArray& path) const;

    std::unique_ptr<NginxServer> m_nginx;
    std::unique_ptr<test::CTestHttpServer> m_cutting;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
    qsizetype m_requestsBefore = 0;
};

void FaultyPictureServerTest::initTestCase()
{
    if (NginxServer::Program().isEmpty())
        QSKIP("nginx is not installed (Debian package nginx-light; scripts/setup.sh installs it)");
    m_nginx = std::make_unique<NginxServer>();
    m_cutting = std::make_unique<test::CTestHttpServer>();
    QVERIFY(m_cutting->Started());

    const QDir root(m_nginx->Root());
    for (int i = 0; i < kCaseCount; ++i) {
        if (kCases[i].file)
            QVERIFY(WriteFile(root.filePath(QLatin1String(kCases[i].file)), BmpPicture(CaseColour(i))));
    }
    QVERIFY(WriteFile(root.filePath(QLatin1String(kLater.file)), BmpPicture(CaseColour(kCaseCount))));
    QVERIFY(WriteFile(root.filePath(QStringLiteral("errors/gone.html")), ErrorPage("404 Not Found")));
    QVERIFY(WriteFile(root.filePath(QStringLiteral("errors/broken.html")), ErrorPage("500 Internal Server Error")));
    for (int i = 0; i < kCaseCount; ++i) {
        if (kCases[i].server == Server::Cutting)
            m_cutting->Answer(kCases[i].path, test::Reply(BmpPicture(CaseColour(i)).toStdString()).Length(kCutAnnouncedLength));
    }
    QVERIFY2(m_nginx->Start(kServerDirectives), qPrintable(m_nginx->Error()));
}

void FaultyPictureServerTest::cleanupTestCase()
{
    m_dlg.reset();
    m_program.reset();
    m_cutting.reset();
    m_nginx.reset();
    HomeUrl().clear();
}

QUrl FaultyPictureServerTest::PictureUrl(const PictureCase& pictureCase) const
{
    if (pictureCase.server == Server::Cutting)
        return QUrl(QString::fromStdString(m_cutting->Url(pictureCase.path)));
    return m_nginx->Url(QLatin1String(pictureCase.path));
}

void FaultyPictureServerTest::Announce(const PictureCase& pictureCase)
{
    m_program->Receiver().AddRecord(test::LinkRecordBuilder(pictureCase.name)
                                        .Caption(pictureCase.name)
                                        .Url(m_nginx->Url(QStringLiteral("/page.html")).toString().toStdString())
                                        .HotPicture(PictureUrl(pictureCase).toString().toStdString()));
}

void FaultyPictureServerTest::VerifyButtonPicture(int k, const PictureCase& pictureCase, const QColor& colour)
{
    const QAction* button = LinkButton(k);
    QVERIFY(button);
    QCOMPARE(button->text(), QLatin1String(pictureCase.name));
    const QImage hot = IconImage(button, QIcon::Active);
    const QImage normal = IconImage(button, QIcon::Normal);
    if (pictureCase.arrives) {
        QVERIFY2(hot.pixelColor(kMiddle).rgb() == colour.rgb(), pictureCase.name);
        QVERIFY2(normal.pixelColor(kMiddle).rgb() == colour.rgb(), pictureCase.name);
        // Magenta is transparent.
        QVERIFY2(hot.pixelColor(0, 0).alpha() == 0, pictureCase.name);
    } else {
        const QImage standIn = StandInPicture().toImage();
        QVERIFY2(hot == standIn, pictureCase.name);
        QVERIFY2(normal == standIn, pictureCase.name);
    }
}

int FaultyPictureServerTest::RequestCount(const QByteArray& path) const
{
    int count = 0;
    for (const NginxServer::Request& request : WindowRequests())
        count += request.path == path;
    return count;
}

void FaultyPictureServerTest::nginxAnswersWithTheFaultsItWasGiven()
{
    // A client that asks for compression gets it; the fetcher never asks.
    const AnswerHead compressed = RawAnswerHead(m_nginx->Url(QStringLiteral("/gzip/picture.bmp")),
                                                "Accept-Encoding: gzip\r\n");
    QCOMPARE(compressed.status, 200);
    QCOMPARE(compressed.headers.value("content-encoding"), QByteArray("gzip"));
    const AnswerHead plain = RawAnswerHead(m_nginx->Url(QStringLiteral("/gzip/picture.bmp")));
    QCOMPARE(plain.headers.value("content-length"), QByteArray::number(BmpPicture(Qt::black).size()));
    QVERIFY(!plain.headers.contains("content-encoding"));

    const AnswerHead chunked = RawAnswerHead(m_nginx->Url(QStringLiteral("/chunked/picture.bmp")));
    QCOMPARE(chunked.status, 200);
    QCOMPARE(chunked.headers.value("transfer-encoding"), QByteArray("chunked"));
    QVERIFY(!chunked.headers.contains("content-length"));

    const AnswerHead missing = RawAnswerHead(m_nginx->Url(QStringLiteral("/missing.bmp")));
    QCOMPARE(missing.status, 404);
    QVERIFY(missing.headers.value("content-length").toInt() < kMinBodyLength);
    const AnswerHead gone = RawAnswerHead(m_nginx->Url(QStringLiteral("/gone.bmp")));
    QCOMPARE(gone.status, 404);
    QCOMPARE(gone.headers.value("content-length").toInt(), kErrorPageSize);
    const AnswerHead broken = RawAnswerHead(m_nginx->Url(QStringLiteral("/broken.bmp")));
    QCOMPARE(broken.status, 500);
    QCOMPARE(broken.headers.value("content-length").toInt(), kErrorPageSize);
    const AnswerHead lost = RawAnswerHead(m_nginx->Url(QStringLiteral("/lost.bmp")));
    QCOMPARE(lost.status, 404);
    QCOMPARE(lost.headers.value("content-type"), QByteArray("image/bmp"));

    const AnswerHead loop = RawAnswerHead(m_nginx->Url(QStringLiteral("/loop-b.bmp")));
    QCOMPARE(loop.status, 302);
    QVERIFY(loop.headers.value("location").endsWith("/loop-a.bmp"));
}

void FaultyPictureServerTest::everyFaultCostsOnlyItsOwnPictureWhileTheClockTicks()
{
    HomeUrl().clear();
    m_requestsBefore = m_nginx->Requests().size();
    m_program = std::make_unique<TestProgram>();
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
    // No page opens by itself: the browser stays idle.
    LinksOf(*m_dlg)->UserNavigated();
    QTRY_VERIFY_WITH_TIMEOUT(!StatusBarOf(*m_dlg)->GetPaneText(2).isEmpty(), kStartTimeout);

    ClockWatch clock(*StatusBarOf(*m_dlg));
    QElapsedTimer elapsed;
    elapsed.start();
    for (const PictureCase& pictureCase : kCases)
        Announce(pictureCase);
    QTRY_VERIFY_WITH_TIMEOUT(PicturesEnded(kCaseCount), kPassTimeout);
    const qint64 firstPass = elapsed.elapsed();
    Announce(kLater);
    QTRY_VERIFY_WITH_TIMEOUT(PicturesEnded(kCaseCount + 1), kPassTimeout);
    clock.Stop();
    qInfo("%d faulty links in %lld ms, the later link %lld ms after them", kCaseCount, firstPass,
          elapsed.elapsed() - firstPass);
    qInfo("clock: %s", qPrintable(clock.Ticks().Describe()));

    for (int i = 0; i < kCaseCount; ++i)
        VerifyButtonPicture(i + 1, kCases[i], CaseColour(i));
    VerifyButtonPicture(kCaseCount + 1, kLater, CaseColour(kCaseCount));
    QVERIFY2(clock.Ticks().LongestSilenceMs() <= kLongestClockSilenceMs, qPrintable(clock.Ticks().Describe()));

    // What the servers saw: no fetch asked for compression, the slow picture
    // took its time but went out whole, the too slow one was given up before
    // its end, and the loop was left after a few redirects.
    const qint64 pictureSize = BmpPicture(Qt::black).size();
    for (const NginxServer::Request& request : WindowRequests()) {
        if (request.path == "/gzip/picture.bmp")
            QCOMPARE(request.acceptEncoding, QByteArray("-"));
        if (request.path == "/slow/picture.bmp") {
            QVERIFY2(request.seconds >= 1.0, qPrintable(QString::number(request.seconds)));
            QCOMPARE(request.bodyBytes, pictureSize);
        }
        if (request.path == "/too-slow/picture.bmp")
            QVERIFY(request.bodyBytes < pictureSize);
    }
    QVERIFY(RequestCount("/gzip/picture.bmp") >= 1);
    QVERIFY(RequestCount("/slow/picture.bmp") >= 1);
    QVERIFY(RequestCount("/too-slow/picture.bmp") >= 1);
    QVERIFY(m_cutting->RequestCount("/cut.bmp") >= 1);
    const int loopStarts = RequestCount("/loop-start.bmp");
    QVERIFY(loopStarts >= 1);
    QVERIFY(RequestCount("/loop-a.bmp") + RequestCount("/loop-b.bmp") <= kMaxRedirects * loopStarts);
}

} // namespace kestrel

QTEST_MAIN(kestrel::FaultyPictureServerTest)
#include "FaultyPictureServerTest.moc"
