// The real main window with the real receiver store, the real web engine and
// pictures and pages served on 127.0.0.1: what announcements do to the
// toolbar and the browser, classroom states (as the receiver hands them
// over) included; "localhost" serves as a host no lesson lists.

#include "catalogue/HomeUrl.h"
#include "channel/ClassroomStateFrame.h"
#include "channel/LinkRecordFrame.h"
#include "channel/ReportFrame.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"
#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/ListedState.h"
#include "tests/support/SignedFrames.h"
#include "tests/ui/ClockWatch.h"
#include "tests/ui/LessonServer.h"
#include "tests/ui/PrintedLines.h"
#include "tests/ui/QueuedInput.h"
#include "tests/ui/TestPictures.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/BrowserNotice.h"
#include "ui/MainDlg.h"
#include "ui/ShortNote.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/ToolbarPicture.h"
#include "ui/WebBrowser.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QUdpSocket>

#include <memory>
#include <optional>

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
    void aRemovedLinkLeavesAndTheOrderFollowsTheList();
    void lessonOnlyRefusesAnUnlistedHostButNotItsPictures();
    void lessonOnlyReplacesAPageThatIsNotAllowed_data();
    void lessonOnlyReplacesAPageThatIsNotAllowed();
    void pausedCoversTheWindowUntilItsCountdownEnds();
    void expiryReturnsToOpen();
    void reportsFollowATrustedStateAndThePage_data();
    void reportsFollowATrustedStateAndThePage();

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
    QVariant Evaluate(const QString& script);
    void LoadAndWait(const QString& url)
    {
        QSignalSpy done(&Browser(), &CWebBrowser::DownloadComplete);
        Browser().Navigate(url);
        QVERIFY(done.wait(kLoadTimeout));
    }
    QStringList ButtonNames() const;
    CClassroomLinks& Links() const { return *LinksOf(*m_dlg); }
    CWebBrowser& Browser() const { return *BrowserOf(*m_dlg); }
    QString Url(const QString& path) const { return QString::fromStdString(m_server->Url(path)); }
    QString OtherHostUrl(const QString& path) const { return QString(Url(path)).replace("127.0.0.1", "localhost"); }

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
    m_server->Serve(QStringLiteral("/lesson.html"), "<img src='" + OtherHostUrl(QStringLiteral("/p.bmp")).toUtf8() + "'>");
    m_server->Serve(QStringLiteral("/essay.html"), "<textarea id='essay'></textarea>");

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
    // A state applies as it arrives; without keys only its list counts.
    unsigned char state[kClassroomStateFrameSize];
    SendDatagram(state, EncodeClassroomStateFrame(test::ListedState({}, ClassroomMode::Paused), 0, nullptr, 0, state));
    QTRY_COMPARE_WITH_TIMEOUT(LinkButtonCount(), 0, kMergeTimeout);
    QCOMPARE(LinksOf(*m_dlg)->Mode(), ClassroomMode::Open);

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

QVariant CatalogueWindowTest::Evaluate(const QString& script)
{
    const auto answer = std::make_shared<std::optional<QVariant>>();
    Browser().page()->runJavaScript(script, [answer](const QVariant& value) { *answer = value; });
    (void)QTest::qWaitFor([&] { return answer->has_value(); }, 10000);
    return answer->value_or(QVariant());
}

QStringList CatalogueWindowTest::ButtonNames() const
{
    QStringList names;
    for (int command = CMainDlg::ID_LINK_FIRST; const QAction* button = ToolBarOf(*m_dlg)->Button(command); ++command)
        names.append(button->text());
    return names;
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


void CatalogueWindowTest::aRemovedLinkLeavesAndTheOrderFollowsTheList()
{
    for (const char* name : {"maths", "music", "art"})
        Announce(m_server->Lesson(QLatin1String(name)));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"maths", "music", "art"}), kMergeTimeout);

    Links().ApplyState(test::ListedState({"art", "maths"}));
    QCOMPARE(ButtonNames(), (QStringList{"maths", "art"}));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"art", "maths"}), kMergeTimeout);
    QCOMPARE(Links().LinkUrl(1), Url(QStringLiteral("/art.html")));
}

void CatalogueWindowTest::lessonOnlyRefusesAnUnlistedHostButNotItsPictures()
{
    PrintedLines printed;
    Announce(m_server->Lesson(QStringLiteral("lesson")));
    Links().ApplyState(test::ListedState({"lesson"}, ClassroomMode::LessonOnly));
    QTRY_COMPARE_WITH_TIMEOUT(Location(), Url(QStringLiteral("/lesson.html")), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->Requests(QStringLiteral("/p.bmp")), 1, kLoadTimeout);
    QCOMPARE(StatusBarOf(*m_dlg)->ModeShown(), QStringLiteral("仅本课"));

    Evaluate("location.href = '" + OtherHostUrl(QStringLiteral("/other.html")) + "'");
    const CShortNote* note = m_dlg->findChild<CShortNote*>();
    QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), 10000);
    QCOMPARE(note->text(), QStringLiteral("本课只能打开老师给的网站"));
    QTRY_COMPARE_WITH_TIMEOUT(printed.Count(QStringLiteral("Lesson only: 1 page(s) not opened")), 1, 10000);
    QCOMPARE(m_server->Requests(QStringLiteral("/other.html")), 0);
    QCOMPARE(Location(), Url(QStringLiteral("/lesson.html")));
    QCOMPARE(printed.Count(QStringLiteral("Classroom mode: lesson only")), 1);
}

void CatalogueWindowTest::lessonOnlyReplacesAPageThatIsNotAllowed_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("replacement");
    QTest::newRow("the home page") << "/home.html" << "maths" << "/home.html";
    QTest::newRow("else link 1") << "" << "maths" << "/maths.html";
    QTest::newRow("else an empty page") << "" << "" << "about:blank";
}

void CatalogueWindowTest::lessonOnlyReplacesAPageThatIsNotAllowed()
{
    QFETCH(QString, home);
    QFETCH(QString, link);
    QFETCH(QString, replacement);
    Links().UserNavigated();
    if (!home.isEmpty())
        m_program->Receiver().AddRecord(test::LinkRecordBuilder("home").Url(m_server->Url(home)));
    if (!link.isEmpty())
        Announce(m_server->Lesson(link));
    QTRY_VERIFY_WITH_TIMEOUT(Links().LinkCount() == int(!link.isEmpty()) && HomeUrl().empty() == home.isEmpty(), kMergeTimeout);
    LoadAndWait(OtherHostUrl(QStringLiteral("/other.html")));

    Links().ApplyState(test::ListedState({"maths"}, ClassroomMode::LessonOnly));
    const QString expected = replacement.startsWith(QLatin1Char('/')) ? Url(replacement) : replacement;
    QTRY_COMPARE_WITH_TIMEOUT(Location(), expected, kLoadTimeout);
}

void CatalogueWindowTest::pausedCoversTheWindowUntilItsCountdownEnds()
{
    LoadAndWait(Url(QStringLiteral("/essay.html")));
    Evaluate(QStringLiteral("document.getElementById('essay').value = 'my essay'"));
    ClassroomState paused = test::ListedState({}, ClassroomMode::Paused);
    paused.pauseCountdownSeconds = 3;
    // The pause comes while the page's own dialog waits for the pupil.
    bool dialogWasOpen = false;
    QTimer pauseWhenAsked;
    connect(&pauseWhenAsked, &QTimer::timeout, this, [&] {
        if (!QApplication::activeModalWidget())
            return;
        pauseWhenAsked.stop();
        dialogWasOpen = true;
        Links().ApplyState(paused);
    });
    pauseWhenAsked.start(50);
    Browser().page()->runJavaScript(QStringLiteral("setTimeout(function () { alert('question'); }, 0)"));
    QTRY_VERIFY_WITH_TIMEOUT(dialogWasOpen, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);

    const CBrowserNotice* cover = m_dlg->findChild<CBrowserNotice*>(QStringLiteral("pauseCover"));
    QVERIFY(cover->isVisible());
    QCOMPARE(cover->geometry(), m_dlg->rect());
    QCOMPARE(cover->Title(), QStringLiteral("老师暂停了屏幕，请看老师"));
    QVERIFY(cover->Text().startsWith(QStringLiteral("还剩 0:0")));
    QVERIFY(Browser().page()->isAudioMuted());
    QCOMPARE(StatusBarOf(*m_dlg)->ModeShown(), QStringLiteral("暂停"));
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    m_dlg->close();
    QTest::keyClicks(Browser().focusProxy(), QStringLiteral("xyz"));

    QTRY_VERIFY_WITH_TIMEOUT(!cover->isVisible(), 5000);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(Evaluate(QStringLiteral("document.getElementById('essay').value")).toString(), QStringLiteral("my essay"));
    QVERIFY(!Browser().page()->isAudioMuted());
    Links().ApplyState(paused);
    QVERIFY(!cover->isVisible());
}

void CatalogueWindowTest::expiryReturnsToOpen()
{
    PrintedLines printed;
    Announce(m_server->Lesson(QStringLiteral("maths")));
    Links().ApplyState(test::ListedState({"maths"}, ClassroomMode::LessonOnly, 2));
    Announce(m_server->Lesson(QStringLiteral("music")));
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), QStringList{"maths"}, kMergeTimeout);

    QTRY_COMPARE_WITH_TIMEOUT(Links().Mode(), ClassroomMode::Open, 5000);
    QVERIFY(StatusBarOf(*m_dlg)->ModeShown().isEmpty());
    QCOMPARE(printed.Count(QStringLiteral("the mode is open, the list lapsed")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ButtonNames(), (QStringList{"maths", "music"}), kMergeTimeout);
}

void CatalogueWindowTest::reportsFollowATrustedStateAndThePage_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("reportPage");
    QTest::newRow("with a key") << true << true;
    QTest::newRow("without a key") << false << true;
    QTest::newRow("报告网页=关") << true << false;
}

void CatalogueWindowTest::reportsFollowATrustedStateAndThePage()
{
    QFETCH(bool, trusted);
    QFETCH(bool, reportPage);
    const SigningKey key = test::FixedKey(7);
    m_dlg.reset();
    if (trusted)
        m_program->TrustKey(key.publicKey);
    if (!reportPage)
        WriteProfileString(m_program->SettingsPath(), kSettingsSection, kReportPageKey, kDownloadsOff);
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
    QUdpSocket announcer;
    QVERIFY(announcer.bind(QHostAddress::LocalHost, 0));
    ScreenReport last;
    int reports = 0;
    const auto heard = [&] {
        while (announcer.hasPendingDatagrams()) {
            unsigned char bytes[kReportFrameSize + 1];
            const qint64 size = announcer.readDatagram(reinterpret_cast<char*>(bytes), sizeof bytes);
            QCOMPARE(ReadReportFrame(bytes, std::size_t(size), last), ReportFault::None);
            ++reports;
        }
    };

    // The announcer: the home page and one link, then a state naming its
    // report port but no address.
    std::uint64_t counter = 1796640000000;
    const LinkRecord home = test::LinkRecordBuilder("home").Url(m_server->Url(QStringLiteral("/home.html")));
    const LinkRecord maths = m_server->Lesson(QStringLiteral("maths"));
    for (const LinkRecord& record : {home, maths}) {
        test::SignedFrame frame = test::SignedRecordFrame(record, ++counter, key);
        SendDatagram(frame.bytes, sizeof frame.bytes);
    }
    ClassroomState state = test::ListedState({"maths"});
    state.reportPort = announcer.localPort();
    unsigned char frame[kClassroomStateFrameSize];
    SendDatagram(frame, EncodeClassroomStateFrame(state, 0, &key, ++counter, frame));
    if (!trusted) {
        QTest::qWait(kTwoPasses);
        heard();
        QCOMPARE(reports, 0);
        return;
    }
    const LinkRecord* listed[] = {&maths};
    const CatalogueDigest digest = DigestCatalogue(&home, listed, 1);
    const QString pageHost = reportPage ? QStringLiteral("127.0.0.1") : QString();
    QTRY_VERIFY_WITH_TIMEOUT((heard(), reports > 0 && last.digest == digest && QLatin1String(last.pageHost) == pageHost),
                             kLoadTimeout);
    QCOMPARE(last.flags, kReportComplete | kReportSigned | (reportPage ? 0 : kReportWithheld));
    QCOMPARE(last.stateCounter, counter);
    QCOMPARE(last.channelPort, m_program->ChannelPort());
    QVERIFY(last.machine[0] != '\0');
    QCOMPARE(last.login[0] != '\0', reportPage);

    // A navigation is a change on the screen (a withheld host is none).
    if (!reportPage)
        return;
    LoadAndWait(OtherHostUrl(QStringLiteral("/other.html")));
    QTRY_COMPARE_WITH_TIMEOUT((heard(), QLatin1String(last.pageHost)), QLatin1String("localhost"), 5000);
}

} // namespace kestrel

QTEST_MAIN(kestrel::CatalogueWindowTest)
#include "CatalogueWindowTest.moc"

