// The real main window with the real receiver store, the real web engine and
// pictures and pages served on 127.0.0.1: what announcements do to the
// toolbar and the browser.

#include "catalogue/HomeUrl.h"
#include "channel/LinkRecordFrame.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/ui/ClockWatch.h"
#include "tests/ui/LessonServer.h"
#include "tests/ui/QueuedInput.h"
#include "tests/ui/TestPictures.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/ToolbarPicture.h"
#include "ui/WebBrowser.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTextDocumentFragment>
#include <QUdpSocket>

#include <memory>

namespace kestrel {

namespace {

// Generous: the engine starts slowly on a busy two-core machine, and a merge
// pass comes once a second.
constexpr int kLoadTimeout = 60000;
constexpr int kMergeTimeout = 15000;
// Long enough for at least two merge passes.
constexpr int kTwoPasses = 2500;

const QColor kColours[] = {Qt::red, Qt::darkGreen, Qt::blue, Qt::darkYellow, Qt::darkCyan};

// A broadcaster that changes one caption every half second, for ten seconds.
constexpr int kChurnPeriodMs = 500;
constexpr int kChurnMs = 10000;
// A click must start its navigation within this.
constexpr int kLongestClickWaitMs = 1000;
// The clock is rewritten once a second.
constexpr int kLongestClockSilenceMs = 1500;
const QPoint kMiddle(kButtonPictureSize / 2, kButtonPictureSize / 2);

// What the tool tip shows, without its markup.
QString ToolTipText(const QAction* button)
{
    return QTextDocumentFragment::fromHtml(button->toolTip()).toPlainText().replace(QChar::Nbsp, QLatin1Char(' '));
}

} // namespace

class CatalogueWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void announcementsOnTheChannelReachTheStore();
    void firstLinkReplacesTheHomePage();
    void linksGetCommandsInArrivalOrder();
    void clickingALinkButtonOpensItsPage();
    void scriptAndDataLinksNeverRun();
    void clockKeepsTickingWhileAPictureServerHangs();
    void churnWithSilentPicturesLeavesClicksKeysAndClockAlive();
    void withAKeyOnlySignedAnnouncementsAppear();

private:
    void Announce(const LinkRecord& record) { m_program->Receiver().AddRecord(record); }
    void AnnounceHome(const QString& path);
    // Changes one link's caption every half second while it runs.
    void StartChurn(QTimer& churn, int& changes);
    // Sends the bytes as one datagram to the window's channel port.
    void SendDatagram(const unsigned char* bytes, std::size_t size);
    QAction* LinkButton(int k) const { return ToolBarOf(*m_dlg)->Button(CMainDlg::ID_LINK_FIRST - 1 + k); }
    int LinkButtonCount() const { return ToolBarOf(*m_dlg)->actions().size() - 4; }
    QString Location() const { return BrowserOf(*m_dlg)->LocationURL(); }

    std::unique_ptr<LessonServer> m_server;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void CatalogueWindowTest::init()
{
    // A server of its own for each case, so request counts start at zero.
    m_server = std::make_unique<LessonServer>();
    QVERIFY(m_server->Started());
    for (const char* page : {"home", "other", "maths", "music", "art", "history"}) {
        m_server->Serve(QStringLiteral("/%1.html").arg(QLatin1String(page)),
                         "<html><head><title>" + QByteArray(page) + "</title></head><body>page</body></html>");
    }
    for (int i = 0; i < int(std::size(kColours)); ++i) {
        m_server->Serve(QStringLiteral("/hot%1.bmp").arg(i), BmpPicture(kColours[i]));
        m_server->Serve(QStringLiteral("/cool%1.bmp").arg(i), BmpPicture(kColours[i].lighter(150)));
    }

    HomeUrl().clear();
    m_program = std::make_unique<TestProgram>();
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
}

void CatalogueWindowTest::cleanup()
{
    m_dlg.reset();
    m_program.reset();
    m_server.reset();
    HomeUrl().clear();
}

void CatalogueWindowTest::AnnounceHome(const QString& path)
{
    Announce(test::LinkRecordBuilder("HOME").Url(m_server->Url(path)));
}

void CatalogueWindowTest::StartChurn(QTimer& churn, int& changes)
{
    for (int k = 1; k <= kMaxLinks; ++k)
        Announce(m_server->ChurnLink(k, 0));
    connect(&churn, &QTimer::timeout, this, [this, &changes] {
        ++changes;
        Announce(m_server->ChurnLink(changes % kMaxLinks + 1, changes));
    });
    churn.start(kChurnPeriodMs);
}

void CatalogueWindowTest::announcementsOnTheChannelReachTheStore()
{
    const quint16 port = m_program->ChannelPort();
    QVERIFY(port != 0);
    unsigned char frame[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(m_server->Lesson(QStringLiteral("maths")), 0, frame);
    QUdpSocket sender;
    sender.writeDatagram(reinterpret_cast<const char*>(frame), sizeof frame, QHostAddress::LocalHost, port);

    QTRY_COMPARE_WITH_TIMEOUT(m_program->Receiver().GetCount(), 1, kMergeTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);

    // The page opened by itself is asked first, so the end may come a
    // moment later.
    m_dlg->OnCancel();
    QTRY_COMPARE_WITH_TIMEOUT(m_program->Receiver().SocketHandle(), -1, kLoadTimeout);
}

void CatalogueWindowTest::firstLinkReplacesTheHomePage()
{
    AnnounceHome(QStringLiteral("/home.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/home.html")), kLoadTimeout);
    QVERIFY(ToolBarOf(*m_dlg)->IsButtonEnabled(CMainDlg::ID_NAV_REFRESH));

    Announce(m_server->Lesson(QStringLiteral("maths")));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/maths.html")), kLoadTimeout);
    QVERIFY(LinksOf(*m_dlg)->Navigated());
    QVERIFY(ToolBarOf(*m_dlg)->IsButtonEnabled(CMainDlg::ID_NAV_REFRESH));

    Announce(m_server->Lesson(QStringLiteral("music"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->Requests(QStringLiteral("/music.html")), 0);
}

void CatalogueWindowTest::linksGetCommandsInArrivalOrder()
{
    Announce(m_server->Lesson(QStringLiteral("maths"), 0));
    Announce(m_server->Lesson(QStringLiteral("music"), 1));
    Announce(m_server->Lesson(QStringLiteral("art"), 2));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 3, kMergeTimeout);
    for (int k = 1; k <= 3; ++k)
        QVERIFY(LinkButton(k));
    QCOMPARE(LinkButton(1)->text(), QStringLiteral("maths"));
    QCOMPARE(LinkButton(3)->text(), QStringLiteral("art"));
    QCOMPARE(ToolTipText(LinkButton(3)), QStringLiteral("caption of art"));
    QTRY_COMPARE_WITH_TIMEOUT(IconImage(LinkButton(3), QIcon::Active).pixelColor(kMiddle).rgb(), kColours[2].rgb(),
                              kMergeTimeout);
    const QList<QAction*> before = ToolBarOf(*m_dlg)->actions();

    Announce(m_server->Lesson(QStringLiteral("history"), 3));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 4, kMergeTimeout);
    QCOMPARE(ToolBarOf(*m_dlg)->actions().mid(0, before.size()), before);
    QCOMPARE(LinkButton(4)->text(), QStringLiteral("history"));
    QCOMPARE(LinkButton(4), ToolBarOf(*m_dlg)->actions().last());
}

void CatalogueWindowTest::clickingALinkButtonOpensItsPage()
{
    LinksOf(*m_dlg)->UserNavigated();
    Announce(m_server->Lesson(QStringLiteral("maths"), 0));
    Announce(m_server->Lesson(QStringLiteral("art"), 2));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);

    QWidget* button = ToolBarOf(*m_dlg)->widgetForAction(LinkButton(2));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/art.html")), kLoadTimeout);
    QCOMPARE(m_server->Requests(QStringLiteral("/art.html")), 1);
    QCOMPARE(m_server->Requests(QStringLiteral("/maths.html")), 0);
}

void CatalogueWindowTest::scriptAndDataLinksNeverRun()
{
    AnnounceHome(QStringLiteral("/home.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/home.html")), kLoadTimeout);
    Announce(test::LinkRecordBuilder("script").Url("javascript:location.href='/maths.html'"));
    Announce(test::LinkRecordBuilder("data").Url("data:text/html,<title>ran</title>"));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);

    LinkButton(1)->trigger();
    LinkButton(2)->trigger();
    QTest::qWait(kTwoPasses);
    QVERIFY(Location().endsWith(QLatin1String("/home.html")));
    QVERIFY(BrowserOf(*m_dlg)->title() != QLatin1String("ran"));
    QCOMPARE(m_server->Requests(QStringLiteral("/maths.html")), 0);
}

void CatalogueWindowTest::clockKeepsTickingWhileAPictureServerHangs()
{
    m_server->Server().Answer("/hanging.bmp", test::Reply("<html><body><p>loading").Length(1000000).HoldOpen());
    LinkRecord hanging = m_server->Lesson(QStringLiteral("maths"));
    std::strcpy(hanging.hotPicture, m_server->Url(QStringLiteral("/hanging.bmp")).c_str());
    Announce(hanging);

    // Samples the clock pane all along, the picture fetches included.
    QStringList clock;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        const QString now = StatusBarOf(*m_dlg)->GetPaneText(2);
        if (clock.isEmpty() || clock.last() != now)
            clock.append(now);
    });
    sampler.start(100);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    // The button comes at once; the picture test waits out one request
    // time-out in the background.
    QTRY_VERIFY_WITH_TIMEOUT(!LinksOf(*m_dlg)->Catalogue().AwaitingPictureTests(), kMergeTimeout);
    QTest::qWait(kTwoPasses);
    sampler.stop();

    QVERIFY(m_server->Requests(QStringLiteral("/hanging.bmp")) >= 1);
    QVERIFY2(clock.size() >= 5, qPrintable(clock.join(QLatin1Char(','))));
}

void CatalogueWindowTest::churnWithSilentPicturesLeavesClicksKeysAndClockAlive()
{
    for (int k = 1; k <= kMaxLinks; ++k) {
        const QByteArray name = "lesson" + QByteArray::number(k);
        m_server->Serve("/" + name + ".html", "<html><head><title>" + name + "</title><script>"
                          "document.addEventListener('keydown', e => { document.title = 'key ' + e.key; });"
                          "</script></head><body>" + name + "</body></html>");
        m_server->Server().Answer(QStringLiteral("/hot%1.bmp").arg(k).toStdString(), test::Reply().Silent());
        m_server->Server().Answer(QStringLiteral("/cool%1.bmp").arg(k).toStdString(), test::Reply().Silent());
    }
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QTRY_VERIFY_WITH_TIMEOUT(!StatusBarOf(*m_dlg)->GetPaneText(2).isEmpty(), kMergeTimeout);
    ClockWatch clock(*StatusBarOf(*m_dlg));
    QElapsedTimer churned;
    churned.start();
    QTimer churn;
    int changes = 0;
    StartChurn(churn, changes);

    // Link 1 opens by itself while every picture test still waits.
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), kMaxLinks, kMergeTimeout);
    QVERIFY(LinksOf(*m_dlg)->Navigated());
    QVERIFY(LinksOf(*m_dlg)->Catalogue().AwaitingPictureTests());
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/lesson1.html")), kLoadTimeout);

    // A key reaches the page.
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->title(), QStringLiteral("lesson1"), kLoadTimeout);
    // The page takes keys through the engine's own widget, once it exists.
    QTRY_VERIFY_WITH_TIMEOUT(BrowserOf(*m_dlg)->focusProxy(), kLoadTimeout);
    BrowserOf(*m_dlg)->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(BrowserOf(*m_dlg)->focusProxy()->hasFocus(), kMergeTimeout);
    QueueKeyPress(BrowserOf(*m_dlg), Qt::Key_A, "a");
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->title(), QStringLiteral("key a"), kLoadTimeout);

    // Clicks on link buttons, queued as the window system queues them, start
    // their navigation at once, however the pictures are doing.
    constexpr int kClicks = 5;
    int k = 2;
    for (int click = 0; click < kClicks || churned.elapsed() < kChurnMs; ++click) {
        // Buttons that fit the toolbar, not its overflow menu.
        QAction* button = LinkButton(k);
        QElapsedTimer waited;
        qint64 handledAfter = -1;
        const QMetaObject::Connection watch = connect(button, &QAction::triggered, this, [&] {
            handledAfter = waited.elapsed();
        });
        QWidget* place = ToolBarOf(*m_dlg)->widgetForAction(button);
        QTRY_VERIFY_WITH_TIMEOUT(place->isVisible(), kMergeTimeout);
        waited.start();
        QueueClick(place);
        QTRY_VERIFY_WITH_TIMEOUT(handledAfter >= 0, kMergeTimeout);
        disconnect(watch);
        QVERIFY2(handledAfter <= kLongestClickWaitMs, qPrintable(QStringLiteral("click on link %1 waited %2 ms")
                                                                    .arg(k).arg(handledAfter)));
        QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QStringLiteral("/lesson%1.html").arg(k)), kLoadTimeout);
        k = k % 6 + 2;
        QTest::qWait(kChurnPeriodMs);
    }
    churn.stop();
    clock.Stop();
    QVERIFY2(changes >= kChurnMs / kChurnPeriodMs - 1, qPrintable(QString::number(changes)));
    QVERIFY2(clock.Ticks().LongestSilenceMs() <= kLongestClockSilenceMs, qPrintable(clock.Ticks().Describe()));
    // Each silent picture was asked for once, and once more for every minute.
    const int allowed = 1 + int(churned.elapsed() / 60000);
    for (int k = 1; k <= kMaxLinks; ++k) {
        for (const QString& path : {QStringLiteral("/hot%1.bmp").arg(k), QStringLiteral("/cool%1.bmp").arg(k)}) {
            const int requests = m_server->Requests(path);
            QVERIFY2(requests >= 1 && requests <= allowed, qPrintable(path + ": " + QString::number(requests)));
        }
    }
}

void CatalogueWindowTest::SendDatagram(const unsigned char* bytes, std::size_t size)
{
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(reinterpret_cast<const char*>(bytes), qint64(size), QHostAddress::LocalHost,
                                  m_program->ChannelPort()),
             qint64(size));
}

void CatalogueWindowTest::withAKeyOnlySignedAnnouncementsAppear()
{
    // The school's key on this pupil machine: a file and one settings line.
    const SigningKey key = test::FixedKey(7);
    m_dlg.reset();
    m_program->TrustKey(key.publicKey);
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
    QVERIFY(m_program->ChannelPort() != 0);

    // A laptop on the network: thirty made-up names and its own home page.
    unsigned char frame[kLinkRecordFrameSize];
    for (int i = 0; i < CLinkRecordStore::kCapacity; ++i) {
        EncodeLinkRecordFrame(m_server->Lesson(QStringLiteral("fake%1").arg(i)), 0, frame);
        SendDatagram(frame, sizeof frame);
    }
    EncodeLinkRecordFrame(test::LinkRecordBuilder("home").Url(m_server->Url(QStringLiteral("/other.html"))),
                          0, frame);
    SendDatagram(frame, sizeof frame);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_program->Receiver().GetCount(), 0);
    QCOMPARE(LinkButtonCount(), 0);
    QVERIFY(HomeUrl().empty());
    QCOMPARE(m_server->Requests(QStringLiteral("/other.html")), 0);

    // The school's announcer, signing: its home page, then its links.
    std::uint64_t counter = 1796640000000;
    const auto announceSigned = [&](const LinkRecord& record) {
        test::SignedFrame signedFrame = test::SignedRecordFrame(record, ++counter, key);
        SendDatagram(signedFrame.bytes, sizeof signedFrame.bytes);
    };
    announceSigned(test::LinkRecordBuilder("home").Url(m_server->Url(QStringLiteral("/home.html"))));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests(QStringLiteral("/home.html")), 1, kLoadTimeout);
    announceSigned(m_server->Lesson(QStringLiteral("maths")));
    announceSigned(m_server->Lesson(QStringLiteral("music"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);
    QCOMPARE(m_program->Receiver().GetCount(), 3);
    QCOMPARE(ToolTipText(LinkButton(1)), QStringLiteral("caption of maths"));
}

} // namespace kestrel

QTEST_MAIN(kestrel::CatalogueWindowTest)
#include "CatalogueWindowTest.moc"

