// The real main window under a flood on its channel port: a second process
// sends garbage and frames with wrong check values (or, with a key
// configured, signed-looking frames with wrong signatures) as fast as the
// loopback takes them, while the window runs its own event loop as the
// program does.

#include "catalogue/HomeUrl.h"
#include "channel/LinkRecordFrame.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/ui/ClockWatch.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

#include <sys/ioctl.h>

namespace kestrel {

namespace {

constexpr int kFloodSeconds = 5;
// The flooder ends by itself after its seconds; this only keeps a broken
// one from holding the test.
constexpr int kFloodGuardMs = kFloodSeconds * 1000 + 10000;
constexpr int kStartTimeout = 15000;
constexpr int kMergeTimeout = 15000;
constexpr int kPingPeriodMs = 200;
// A ping may come this much later than due (so at most this much plus one
// period after the one before): a loop starved by the flood misses pings for
// seconds, while a busy two-core machine delays a served one by tens of
// milliseconds, a few hundred at worst.
constexpr int kPingLatenessMs = 800;
// The clock is rewritten once a second (a little more, as each tick is armed
// after the last one's work) and sampled every 100 ms; the rest of the
// margin is for a loaded machine. A window frozen by the flood shows a
// silence as long as the flood.
constexpr int kLongestClockSilenceMs = 2500;
// What the window may have grown by after the flood. The receive path holds
// only fixed buffers, so the flood itself should cost nothing; the margin is
// for the web engine and the allocator, which keep moving a little on their
// own. Any per-datagram leak of even a few bytes over the hundreds of
// thousands of datagrams the window reads would be far beyond it.
constexpr qint64 kLargestGrowthKiB = 4 * 1024;
// The flood may leave up to 16384 bytes of headers in the reassembly buffer,
// each waiting for the 8192 bytes of its frame; the frames sent after it
// fill those waits until one of them is read whole, as the announcer's
// repeats would.
constexpr int kMostSends = (16384 + kFrameHeaderSize + kLargestFramePayload) / kLinkRecordFrameSize + 1;

// A file of /proc, whose size reads as 0 until it is read.
QByteArray ProcText(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 ResidentKiB()
{
    for (const QByteArray& line : ProcText("/proc/self/status").split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Bytes waiting in the socket's receive queue.
int QueuedBytes(int socket)
{
    int queued = 0;
    return ioctl(socket, FIONREAD, &queued) == 0 ? queued : -1;
}

// Datagrams the kernel dropped at the channel's socket on port because its
// receive queue was full. The channel kept to the loopback card is bound to
// every address of the port.
qint64 KernelDrops(quint16 port)
{
    const QByteArray portText = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : ProcText("/proc/net/udp").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 12 && (fields[1] == "0100007F" + portText || fields[1] == "00000000" + portText))
            return fields.last().toLongLong();
    }
    return -1;
}

} // namespace

class ChannelFloodTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowStaysResponsiveThroughAFloodAndHearsTheNextFrame_data();
    void windowStaysResponsiveThroughAFloodAndHearsTheNextFrame();

private:
    int LinkButtonCount() const { return ToolBarOf(*m_dlg)->actions().size() - 4; }
    // The announcer's frame: signed when the window was given its key.
    void SendFrame(const LinkRecord& record);

    const SigningKey m_key = test::FixedKey(7);
    bool m_signed = false;
    std::uint64_t m_counter = 1796640000000;

    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void ChannelFloodTest::init()
{
    HomeUrl().clear();
    m_program = std::make_unique<TestProgram>();
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
}

void ChannelFloodTest::cleanup()
{
    m_dlg.reset();
    m_program.reset();
    HomeUrl().clear();
}

void ChannelFloodTest::SendFrame(const LinkRecord& record)
{
    unsigned char plain[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(record, 0, plain);
    test::SignedFrame signedFrame = test::SignedRecordFrame(record, ++m_counter, m_key);
    const unsigned char* bytes = m_signed ? signedFrame.bytes : plain;
    const qint64 size = m_signed ? qint64(sizeof signedFrame.bytes) : qint64(sizeof plain);
    QUdpSocket sender;
    sender.writeDatagram(reinterpret_cast<const char*>(bytes), size, QHostAddress::LocalHost, m_program->ChannelPort());
}

void ChannelFloodTest::windowStaysResponsiveThroughAFloodAndHearsTheNextFrame_data()
{
    QTest::addColumn<bool>("signedFrames");
    QTest::newRow("no key, broken frames") << false;
    QTest::newRow("a key, forged signatures") << true;
}

void ChannelFloodTest::windowStaysResponsiveThroughAFloodAndHearsTheNextFrame()
{
    QFETCH(bool, signedFrames);
    m_signed = signedFrames;
    if (m_signed) {
        m_dlg.reset();
        m_program->TrustKey(m_key.publicKey);
        m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
    }
    const quint16 port = m_program->ChannelPort();
    QVERIFY(port != 0);
    // No page opens by itself: the browser stays idle.
    LinksOf(*m_dlg)->UserNavigated();
    // Started and settled: the clock shows the time, a merge pass has run.
    QTRY_VERIFY_WITH_TIMEOUT(!StatusBarOf(*m_dlg)->GetPaneText(2).isEmpty(), kStartTimeout);
    QTest::qWait(2000);
    const qint64 residentBefore = ResidentKiB();
    const qint64 dropsBefore = KernelDrops(port);
    QVERIFY(dropsBefore >= 0);

    QProcess flooder;
    flooder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments = {QString::number(port), QString::number(kFloodSeconds)};
    if (m_signed)
        arguments << QStringLiteral("signed");
    flooder.start(QStringLiteral(KESTREL_CHANNEL_FLOODER), arguments);
    QVERIFY2(flooder.waitForStarted(), qPrintable(flooder.errorString()));

    ClockWatch clock(*StatusBarOf(*m_dlg));
    Ping ping(kPingPeriodMs);
    // The window's own event loop, as the program runs it, until the flood
    // is over.
    QEventLoop loop;
    connect(&flooder, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kFloodGuardMs, &loop, &QEventLoop::quit);
    loop.exec();
    clock.Stop();
    ping.Stop();
    if (flooder.state() != QProcess::NotRunning) {
        flooder.kill();
        flooder.waitForFinished();
        QFAIL("the flooder did not end by itself");
    }
    QCOMPARE(flooder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(flooder.exitCode(), 0);
    const QByteArray report = flooder.readAllStandardOutput().trimmed();
    const qint64 sent = report.split(' ').value(1).toLongLong();
    QVERIFY2(sent > 0, report.constData());

    // What is still queued is read soon after.
    QTRY_COMPARE_WITH_TIMEOUT(QueuedBytes(m_program->Receiver().SocketHandle()), 0, kMergeTimeout);
    const qint64 residentAfter = ResidentKiB();
    const qint64 dropped = KernelDrops(port) - dropsBefore;
    qInfo("flooder: %s; the kernel dropped %lld of them at the full receive queue, the window read %lld",
          report.constData(), dropped, sent - dropped);
    qInfo("clock: %s", qPrintable(clock.Ticks().Describe()));
    qInfo("ping every %d ms: %d pongs, longest silence %lld ms", kPingPeriodMs, ping.Pongs().Count(),
          ping.Pongs().LongestSilenceMs());

    QVERIFY2(clock.Ticks().LongestSilenceMs() <= kLongestClockSilenceMs, qPrintable(clock.Ticks().Describe()));
    QVERIFY2(ping.Pongs().LongestSilenceMs() <= kPingPeriodMs + kPingLatenessMs, qPrintable(ping.Pongs().Describe()));

    // Nothing of the flood is a record; the next real frame is.
    QCOMPARE(m_program->Receiver().GetCount(), 0);
    const LinkRecord lesson = test::LinkRecordBuilder("maths").Caption("after the flood");
    int sends = 0;
    while (m_program->Receiver().GetCount() == 0 && sends < kMostSends) {
        SendFrame(lesson);
        ++sends;
        QTest::qWait(100);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_program->Receiver().GetCount(), 1, kMergeTimeout);
    qInfo("the record arrived after %d send(s)", sends);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    QCOMPARE(ToolBarOf(*m_dlg)->Button(CMainDlg::ID_LINK_FIRST)->text(), QStringLiteral("maths"));

    qInfo("resident memory: %lld KiB before the flood, %lld KiB after", residentBefore, residentAfter);
    QVERIFY(residentBefore > 0);
    QVERIFY2(residentAfter - residentBefore < kLargestGrowthKiB,
             qPrintable(QStringLiteral("grew by %1 KiB").arg(residentAfter - residentBefore)));
}

} // namespace kestrel

QTEST_MAIN(kestrel::ChannelFloodTest)
#include "ChannelFloodTest.moc"
