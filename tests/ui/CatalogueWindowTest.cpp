// The real main window with the real receiver store, the real web engine and
// pictures and pages served on 127.0.0.1: what announcements do to the
// toolbar and the browser.

#include "catalogue/HomeUrl.h"
#include "channel/LinkRecordFrame.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/SignedFrames.h"
#include "tests/ui/PageServer.h"
#include "tests/ui/TestPictures.h"
#include "tests/ui/TestProgram.h"
#include "ui/ButtonPicture.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WebBrowser.h"

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
    void homeOpensOnceAndLaterHomeRecordsChangeSilently();
    void firstLinkReplacesTheHomePage();
    void noLinkOpensItselfAfterRefresh();
    void linksGetCommandsInArrivalOrder();
    void changedCaptionRebuildsWithoutANewButton();
    void unchangedRecordsFetchNothing();
    void nameInOtherLetterCaseReplacesTheLabel();
    void everyLinkShowsItsOwnPicturesOrTheStandIn();
    void clickingALinkButtonOpensItsPage();
    void scriptAndDataLinksNeverRun();
    void clockKeepsTickingWhileAPictureServerHangs();
    void withAKeyOnlySignedAnnouncementsAppear();

private:
    LinkRecord Lesson(const QString& name, int colour = 0);
    void Announce(const LinkRecord& record) { m_program->Receiver().AddRecord(record); }
    void AnnounceHome(const QString& path);
    // Sends the bytes as one datagram to the window's channel port.
    void SendDatagram(const unsigned char* bytes, std::size_t size);
    QAction* LinkButton(int k) const { return m_dlg->m_wndToolBar->Button(CMainDlg::ID_LINK_FIRST - 1 + k); }
    int LinkButtonCount() const { return m_dlg->m_wndToolBar->actions().size() - 4; }
    QString Location() const { return m_dlg->m_browser->LocationURL(); }

    std::unique_ptr<PageServer> m_server;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void CatalogueWindowTest::init()
{
    // A server of its own for each case, so request counts start at zero.
    m_server = std::make_unique<PageServer>();
    QVERIFY(m_server->IsListening());
    for (const char* page : {"home", "other", "maths", "music", "art", "history"}) {
        m_server->AddPage(QStringLiteral("/%1.html").arg(QLatin1String(page)),
                         "<html><head><title>" + QByteArray(page) + "</title></head><body>page</body></html>");
    }
    for (int i = 0; i < int(std::size(kColours)); ++i) {
        m_server->AddPage(QStringLiteral("/hot%1.bmp").arg(i), BmpPicture(kColours[i]));
        m_server->AddPage(QStringLiteral("/cool%1.bmp").arg(i), BmpPicture(kColours[i].lighter(150)));
    }
    m_server->AddPage(QStringLiteral("/wide.bmp"), BmpPicture(Qt::magenta, 3 * kButtonPictureSize));

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

LinkRecord CatalogueWindowTest::Lesson(const QString& name, int colour)
{
    return test::LinkRecordBuilder(name.toStdString())
        .Caption(("caption of " + name).toStdString())
        .Url(m_server->Url("/" + name + ".html").toString().toStdString())
        .HotPicture(m_server->Url(QStringLiteral("/hot%1.bmp").arg(colour)).toString().toStdString())
        .CoolPicture(m_server->Url(QStringLiteral("/cool%1.bmp").arg(colour)).toString().toStdString());
}

void CatalogueWindowTest::AnnounceHome(const QString& path)
{
    Announce(test::LinkRecordBuilder("HOME").Url(m_server->Url(path).toString().toStdString()));
}

void CatalogueWindowTest::announcementsOnTheChannelReachTheStore()
{
    const quint16 port = m_program->ChannelPort();
    QVERIFY(port != 0);
    unsigned char frame[kLinkRecordFrameSize];
    EncodeLinkRecordFrame(Lesson(QStringLiteral("maths")), 0, frame);
    QUdpSocket sender;
    sender.writeDatagram(reinterpret_cast<const char*>(frame), sizeof frame, QHostAddress::LocalHost, port);

    QTRY_COMPARE_WITH_TIMEOUT(m_program->Receiver().GetCount(), 1, kMergeTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);

    m_dlg->OnCancel();
    QCOMPARE(m_program->Receiver().SocketHandle(), -1);
}

void CatalogueWindowTest::homeOpensOnceAndLaterHomeRecordsChangeSilently()
{
    AnnounceHome(QStringLiteral("/home.html"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->RequestCount(QStringLiteral("/home.html")), 1, kLoadTimeout);
    QVERIFY(m_dlg->m_wndToolBar->IsButtonEnabled(CMainDlg::ID_NAV_REFRESH));
    QCOMPARE(m_dlg->Catalogue().LinkCount(), 0);
    QCOMPARE(LinkButtonCount(), 0);

    AnnounceHome(QStringLiteral("/other.html"));
    QTRY_VERIFY_WITH_TIMEOUT(HomeUrl() == m_server->Url(QStringLiteral("/other.html")).toString().toStdString(),
                             kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/other.html")), 0);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/home.html")), 1);
    QVERIFY(!m_dlg->m_bNavigated);
}

void CatalogueWindowTest::firstLinkReplacesTheHomePage()
{
    AnnounceHome(QStringLiteral("/home.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/home.html")), kLoadTimeout);

    Announce(Lesson(QStringLiteral("maths")));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/maths.html")), kLoadTimeout);
    QVERIFY(m_dlg->m_bNavigated);
    QVERIFY(m_dlg->m_wndToolBar->IsButtonEnabled(CMainDlg::ID_NAV_REFRESH));

    Announce(Lesson(QStringLiteral("music"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/music.html")), 0);
}

void CatalogueWindowTest::noLinkOpensItselfAfterRefresh()
{
    AnnounceHome(QStringLiteral("/home.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/home.html")), kLoadTimeout);
    m_dlg->m_wndToolBar->Button(CMainDlg::ID_NAV_REFRESH)->trigger();

    Announce(Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/maths.html")), 0);
}

void CatalogueWindowTest::linksGetCommandsInArrivalOrder()
{
    Announce(Lesson(QStringLiteral("maths"), 0));
    Announce(Lesson(QStringLiteral("music"), 1));
    Announce(Lesson(QStringLiteral("art"), 2));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 3, kMergeTimeout);
    for (int k = 1; k <= 3; ++k)
        QVERIFY(LinkButton(k));
    QCOMPARE(LinkButton(1)->text(), QStringLiteral("maths"));
    QCOMPARE(LinkButton(3)->text(), QStringLiteral("art"));
    QCOMPARE(ToolTipText(LinkButton(3)), QStringLiteral("caption of art"));
    const QList<QAction*> before = m_dlg->m_wndToolBar->actions();

    Announce(Lesson(QStringLiteral("history"), 3));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 4, kMergeTimeout);
    QCOMPARE(m_dlg->m_wndToolBar->actions().mid(0, before.size()), before);
    QCOMPARE(LinkButton(4)->text(), QStringLiteral("history"));
    QCOMPARE(LinkButton(4), m_dlg->m_wndToolBar->actions().last());
}

void CatalogueWindowTest::changedCaptionRebuildsWithoutANewButton()
{
    Announce(Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->RequestCount(QStringLiteral("/cool0.bmp")), 1, kMergeTimeout);

    LinkRecord changed = Lesson(QStringLiteral("maths"));
    changed.caption[0] = 'C';
    Announce(changed);
    QTRY_COMPARE_WITH_TIMEOUT(ToolTipText(LinkButton(1)), QStringLiteral("Caption of maths"), kMergeTimeout);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/cool0.bmp")), 2);

    changed.reserved = 1;
    Announce(changed);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->RequestCount(QStringLiteral("/cool0.bmp")), 3, kMergeTimeout);
    QCOMPARE(LinkButtonCount(), 1);
}

void CatalogueWindowTest::unchangedRecordsFetchNothing()
{
    Announce(Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->RequestCount(QStringLiteral("/cool0.bmp")), 1, kMergeTimeout);
    const int hot = m_server->RequestCount(QStringLiteral("/hot0.bmp"));
    // One picture test, then the rebuild.
    QCOMPARE(hot, 2);

    Announce(Lesson(QStringLiteral("maths")));
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/hot0.bmp")), hot);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/cool0.bmp")), 1);
    QCOMPARE(m_server->UserAgent(QStringLiteral("/hot0.bmp")), QByteArray("MarlowBrowser1.0"));
}

void CatalogueWindowTest::nameInOtherLetterCaseReplacesTheLabel()
{
    Announce(Lesson(QStringLiteral("maths")));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    LinkRecord renamed = Lesson(QStringLiteral("maths"));
    std::memcpy(renamed.name, "MATHS", 5);
    Announce(renamed);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButton(1)->text(), QStringLiteral("MATHS"), kMergeTimeout);
    QCOMPARE(LinkButtonCount(), 1);
    QCOMPARE(m_program->Receiver().GetCount(), 1);
}

void CatalogueWindowTest::everyLinkShowsItsOwnPicturesOrTheStandIn()
{
    Announce(Lesson(QStringLiteral("maths"), 0));
    LinkRecord broken = Lesson(QStringLiteral("music"), 1);
    std::strcpy(broken.hotPicture, m_server->Url(QStringLiteral("/missing.bmp")).toString().toUtf8().constData());
    std::strcpy(broken.coolPicture, m_server->Url(QStringLiteral("/missing.bmp")).toString().toUtf8().constData());
    Announce(broken);
    LinkRecord wide = Lesson(QStringLiteral("art"), 2);
    std::strcpy(wide.coolPicture, m_server->Url(QStringLiteral("/wide.bmp")).toString().toUtf8().constData());
    Announce(wide);
    Announce(Lesson(QStringLiteral("history"), 3));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 4, kMergeTimeout);
    QTest::qWait(kTwoPasses);

    const QPoint middle(kButtonPictureSize / 2, kButtonPictureSize / 2);
    // Each link its own pictures: hot from hotPicture, normal from coolPicture.
    QCOMPARE(IconImage(LinkButton(1), QIcon::Active).pixelColor(middle).rgb(), kColours[0].rgb());
    QCOMPARE(IconImage(LinkButton(1), QIcon::Normal).pixelColor(middle).rgb(), kColours[0].lighter(150).rgb());
    QCOMPARE(IconImage(LinkButton(4), QIcon::Active).pixelColor(middle).rgb(), kColours[3].rgb());
    // Magenta is transparent.
    QCOMPARE(IconImage(LinkButton(1), QIcon::Normal).pixelColor(0, 0).alpha(), 0);
    // The broken link shows the stand-in, not a neighbour's picture.
    const QImage standIn = StandInPicture().toImage();
    QCOMPARE(IconImage(LinkButton(2), QIcon::Normal), standIn);
    QCOMPARE(IconImage(LinkButton(2), QIcon::Active), standIn);
    // A wider picture gives one 24 x 24 image, and the link after it keeps its own.
    QCOMPARE(IconImage(LinkButton(3), QIcon::Normal).size(), QSize(kButtonPictureSize, kButtonPictureSize));
    QCOMPARE(IconImage(LinkButton(3), QIcon::Active).pixelColor(middle).rgb(), kColours[2].rgb());
}

void CatalogueWindowTest::clickingALinkButtonOpensItsPage()
{
    m_dlg->m_bNavigated = true;
    Announce(Lesson(QStringLiteral("maths"), 0));
    Announce(Lesson(QStringLiteral("art"), 2));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);

    QWidget* button = m_dlg->m_wndToolBar->widgetForAction(LinkButton(2));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Location().endsWith(QLatin1String("/art.html")), kLoadTimeout);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/art.html")), 1);
    QCOMPARE(m_server->RequestCount(QStringLiteral("/maths.html")), 0);
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
    QVERIFY(m_dlg->m_browser->title() != QLatin1String("ran"));
    QCOMPARE(m_server->RequestCount(QStringLiteral("/maths.html")), 0);
}

void CatalogueWindowTest::clockKeepsTickingWhileAPictureServerHangs()
{
    m_server->AddEndlessPage(QStringLiteral("/hanging.bmp"));
    LinkRecord hanging = Lesson(QStringLiteral("maths"));
    std::strcpy(hanging.hotPicture, m_server->Url(QStringLiteral("/hanging.bmp")).toString().toUtf8().constData());
    Announce(hanging);

    // Samples the clock pane all along, the picture fetches included.
    QStringList clock;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        const QString now = m_dlg->m_wndStatusBar->GetPaneText(2);
        if (clock.isEmpty() || clock.last() != now)
            clock.append(now);
    });
    sampler.start(100);
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 1, kMergeTimeout);
    sampler.stop();

    QVERIFY(m_server->RequestCount(QStringLiteral("/hanging.bmp")) >= 1);
    // A picture test and a rebuild each wait out one request time-out.
    QVERIFY2(clock.size() >= 5, qPrintable(clock.join(QLatin1Char(','))));
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
        EncodeLinkRecordFrame(Lesson(QStringLiteral("fake%1").arg(i)), 0, frame);
        SendDatagram(frame, sizeof frame);
    }
    EncodeLinkRecordFrame(test::LinkRecordBuilder("home").Url(m_server->Url(QStringLiteral("/other.html")).toString().toStdString()),
                          0, frame);
    SendDatagram(frame, sizeof frame);
    QTest::qWait(kTwoPasses);
    QCOMPARE(m_program->Receiver().GetCount(), 0);
    QCOMPARE(LinkButtonCount(), 0);
    QVERIFY(HomeUrl().empty());
    QCOMPARE(m_server->RequestCount(QStringLiteral("/other.html")), 0);

    // The school's announcer, signing: its home page, then its links.
    std::uint64_t counter = 1796640000000;
    const auto announceSigned = [&](const LinkRecord& record) {
        test::SignedFrame signedFrame = test::SignedRecordFrame(record, ++counter, key);
        SendDatagram(signedFrame.bytes, sizeof signedFrame.bytes);
    };
    announceSigned(test::LinkRecordBuilder("home").Url(m_server->Url(QStringLiteral("/home.html")).toString().toStdString()));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->RequestCount(QStringLiteral("/home.html")), 1, kLoadTimeout);
    announceSigned(Lesson(QStringLiteral("maths")));
    announceSigned(Lesson(QStringLiteral("music"), 1));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 2, kMergeTimeout);
    QCOMPARE(m_program->Receiver().GetCount(), 3);
    QCOMPARE(ToolTipText(LinkButton(1)), QStringLiteral("caption of maths"));
}

} // namespace kestrel

QTEST_MAIN(kestrel::CatalogueWindowTest)
#include "CatalogueWindowTest.moc"

