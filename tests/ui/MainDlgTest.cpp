// The real main window with the real web engine, against pages served on
// 127.0.0.1 by the test itself.

#include "base/GbkText.h"
#include "catalogue/HomeUrl.h"
#include "config/ProfileString.h"
#include "config/SettingsKeys.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestHttpServer.h"
#include "tests/ui/PrintedLines.h"
#include "tests/ui/TestProgram.h"
#include "tests/ui/WindowParts.h"
#include "ui/BrowserNotice.h"
#include "ui/FindBar.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WebBrowser.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrintDialog>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>
#include <QToolButton>
#include <QWebEngineView>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

namespace kestrel {

namespace {

// Generous: the engine starts slowly on a busy two-core machine.
constexpr int kLoadTimeout = 60000;
constexpr int kSettleTime = 1500;


const int kNavigationCommands[] = {CMainDlg::ID_NAV_BACK, CMainDlg::ID_NAV_FORWARD, CMainDlg::ID_NAV_STOP,
                                   CMainDlg::ID_NAV_REFRESH};

// A one-page PDF whose page is one solid blue.
QByteArray SolidBluePdf()
{
    const QByteArray content = "0 0 1 rg 0 0 200 200 re f";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
        QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// Stands in for the desktop's browser: records what the program hands to it.
class DesktopRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

// Does `act` with the dialog named `name` as soon as it shows; a dialog
// waits in a loop of its own, so the test can act on it only from inside
// that loop.
template <typename Dialog>
class DialogWatch : public QObject {
public:
    DialogWatch(const QString& name, std::function<void(Dialog*)> act)
        : m_name(name)
        , m_act(std::move(act))
    {
        connect(&m_poll, &QTimer::timeout, this, &DialogWatch::Poll);
        m_poll.start(50);
    }
    bool seen = false;

private:
    void Poll()
    {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != m_name)
            return;
        m_poll.stop();
        seen = true;
        m_act(dialog);
    }

    QString m_name;
    std::function<void(Dialog*)> m_act;
    QTimer m_poll;
};

// Does `act` with the page's leave question as soon as it shows.
class LeaveQuestionWatch : public DialogWatch<QMessageBox> {
public:
    explicit LeaveQuestionWatch(std::function<void(QMessageBox*)> act)
        : DialogWatch(QStringLiteral("leaveQuestion"), std::move(act))
    {
    }
};

// Answers the leave question with the button named `answer`, noting what
// the question said.
class LeaveAnswer {
public:
    explicit LeaveAnswer(const QString& answer)
        : m_watch([this, answer](QMessageBox* question) {
            title = question->windowTitle();
            text = question->text();
            for (QAbstractButton* button : question->buttons()) {
                buttons << button->text();
                if (button->text() == answer) {
                    answered = true;
                    button->click();
                }
            }
        })
    {
    }
    bool answered = false;
    QString title;
    QString text;
    QStringList buttons;

private:
    LeaveQuestionWatch m_watch;
};

// Counts the close requests that reach the window.
} // namespace

class MainDlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsMaximisedWithTitleAndDisabledNavigation();
    void toolbarButtonsCarryCaptionsTipsAndSize();
    void statusBarShowsReadyThenTheClock();
    void navigationShowsProgressAddressAndDone();
    void backAndForwardFollowTheHistory();
    void refreshMarksNavigatedStopDoesNot();
    void stopEndsADownloadThatNeverFinishes();
    void progressOutsideItsRangeChangesNothing();
    void otherCommandStatesChangeNothing();
    void aClickedNewWindowOpensInTheDesktopBrowser();
    void scriptPopupsWithoutAClickOpenNothing();
    void newWindowsOfOtherSchemesAreRefused();
    void newWindowsInsideOpenInTheOwnView();
    void onlyHttpAndHttpsAreOpened_data();
    void onlyHttpAndHttpsAreOpened();
    void aFailedLoadPassesTheGateQuietly();
    void noWayLeadsToAProgramResource_data();
    void noWayLeadsToAProgramResource();
    void localFolderPagesStayInsideIt();
    void permissionsAreDeniedAtOnce_data();
    void permissionsAreDeniedAtOnce();
    void contextMenuHoldsOnlyWhatWorks();
    void contextMenuRefreshMarksNavigated();
    void homeOpensOnlyWhenKnown();
    void escapeEndsTheWindow_data();
    void escapeEndsTheWindow();
    void escapeAsksAPageWithUnsavedWork();
    void aHungPageDoesNotKeepTheWindow();
    void endingWithoutAskingIgnoresUnsavedWork();
    void closeRequestsTakeTheCancelPath();
    void comeForwardRestoresAMinimisedWindow();
    void withoutProgramPathTheWindowStaysBare();
    void aPdfShowsInTheWindow();
    void downloadsLandInTheDownloadFolderUnderTheirOwnNames();
    void refusedDownloadsAreNotSaved_data();
    void refusedDownloadsAreNotSaved();
    void anElementGoesFullscreenAndEscapeReturns();
    void aLoginPageOpensAfterTheDialog();
    void zoomKeysZoomAndReset();
    void reloadAndHistoryKeysActAsTheButtons();
    void findBarFindsAndEscapeClosesItFirst();
    void printKeyOpensThePrintDialog();
    void aKilledRendererComesBackOnceAMinute();
    void theWaitingNoticeShowsUntilTheFirstPage();
    void theUploadChooserOpensInTheDocumentsFolder();
    void onlyTheSystemStoresAuthoritiesAreTrusted_data();
    void onlyTheSystemStoresAuthoritiesAreTrusted();

private:
    void WaitUntilDone();
    void LoadAndWait(const QString& path);
    // A new window for the settings `key`=`value` (UTF-8; written as GBK).
    void RestartWithSetting(std::string_view key, const QString& value);
    QVariant Evaluate(const QString& script);
    QWidget* PageSurface() const { return BrowserOf(*m_dlg)->focusProxy(); }
    void ClickPage(Qt::MouseButton button = Qt::LeftButton);
    // Clicks until `arrived` holds: clicks that come before the page takes
    // input are lost. A few tries, each checked.
    void ClickPageUntil(const std::function<bool()>& arrived, Qt::MouseButton button = Qt::LeftButton);
    // Types into the essay page's text field; returns what it then holds.
    QString TypeIntoPage(const QString& text);
    void PressEscape();
    QString Pane(int pane) const { return StatusBarOf(*m_dlg)->GetPaneText(pane); }
    QString DownloadFolder() const { return m_xdg.filePath(QStringLiteral("downloads")); }
    void KeyClick(QKeySequence keys);
    bool Enabled(int command) const { return ToolBarOf(*m_dlg)->IsButtonEnabled(command); }

    QString Url(const QString& path) const { return QString::fromStdString(m_server.Url(path.toStdString())); }
    int Requests(const QString& path) const { return m_server.RequestCount(path.toStdString()); }

    test::CTestHttpServer m_server;
    DesktopRecorder m_desktop;
    // The user's folders: a download folder named the desktop's way.
    QTemporaryDir m_xdg;
    std::unique_ptr<TestCertificates> m_certificates;
    // https on 127.0.0.1 with a certificate of the test's own authority.
    std::unique_ptr<test::CTestHttpServer> m_secureServer;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void MainDlgTest::initTestCase()
{
    QVERIFY(m_server.Started());
    m_server.Answer("/first.html", test::Reply(
                     "<html><head><title>first</title></head><body><p>first page</p></body></html>"));
    m_server.Answer("/second.html", test::Reply(
                     "<html><head><title>second</title></head><body><p>second page</p></body></html>"));
    const std::string outside = m_server.Url("/outside.html");
    m_server.Answer("/opener.html", test::Reply(
                     "<html><body><a id='blank' target='_blank' href='" + outside + "'>outside</a></body></html>"));
    m_server.Answer("/outside.html", test::Reply("<html><body>outside</body></html>"));
    m_server.Answer("/endless.html", test::Reply("<html><body><p>loading").Length(1000000).HoldOpen());
    // A link over the whole page, so that a click anywhere is a click on it.
    m_server.Answer("/popups.html", test::Reply(
                     "<html><body style='margin:0'><a id='blank' target='_blank' href='" + outside +
                         "' style='display:block;position:fixed;top:0;left:0;width:100%;height:100%'>outside</a>"
                         "<script>function burst(n) { for (var i = 0; i < n; ++i) window.open('" + outside +
                         "?' + i); }</script></body></html>"));
    m_server.Answer("/gate.html", test::Reply(
                     "<html><body><a id='resource' href='qrc:/kestrel/kestrel-16.png'>resource</a></body></html>"));
    m_server.Answer("/to-resource", test::Reply("", 302).Header("Location: qrc:/kestrel/kestrel-16.png"));
    m_server.Answer("/essay.html", test::Reply(
                     "<html><body style='margin:0'><textarea id='essay' style='position:fixed;top:0;left:0;width:100%;height:100%'></textarea>"
                     "<script>window.addEventListener('beforeunload', function (e) { e.preventDefault(); "
                     "e.returnValue = ''; });</script></body></html>"));
    m_server.Answer("/ask.html", test::Reply(
                     "<html><body><script>var answer = '';"
                     "function ask(request) { var t0 = performance.now(); request.then("
                     "function (v) { answer = 'granted ' + v; }, function (e) { answer = 'denied ' + e.name; })"
                     ".finally(function () { answer += ' ' + Math.round(performance.now() - t0); }); }"
                     "</script></body></html>"));
    m_server.Answer("/worksheet.pdf", test::Reply(SolidBluePdf().toStdString()).Type("application/pdf"));
    m_server.Answer("/attachments.html", test::Reply(
                     "<html><body><a id='notes' href='/notes'>notes</a></body></html>"));
    const auto attachment = [](std::string body, const std::string& name) {
        return test::Reply(std::move(body)).Type("application/octet-stream")
            .Header("Content-Disposition: attachment; filename=\"" + name + "\"");
    };
    m_server.Answer("/notes", attachment(std::string("lesson\0notes\r\n", 15), "notes.txt"));
    m_server.Answer("/setup", attachment("#!/bin/sh\ntouch /tmp/kestrel-ran\n", "setup.sh"));
    m_server.Answer("/entry", attachment("[Desktop Entry]\n", "game.desktop"));
    m_server.Answer("/video.html", test::Reply(
                     "<html><body style='margin:0'><div id='video' style='position:fixed;top:0;left:0;width:100%;height:100%;"
                     "background:#123'></div><script>var log = '';"
                     "['mousedown', 'mouseup', 'click'].forEach(function (n) { document.addEventListener(n, function () { log += n + ' '; }); });"
                     "document.getElementById('video').addEventListener('click', function () {"
                     " this.requestFullscreen().then(function () { log += 'ok'; }, function (e) { log += e.message; }); });"
                     "</script></body></html>"));
    m_server.Answer("/login.html", test::Reply("<html><head><title>inside</title></head><body>inside</body></html>")
                                       .Login("Basic " + QByteArray("pupil:secret").toBase64().toStdString()));
    m_server.Answer("/upload.html", test::Reply(
                     "<html><body style='margin:0'><input id='file' type='file' "
                     "style='position:fixed;top:0;left:0;width:100%;height:100%'></body></html>"));
    m_server.Answer("/words.html", test::Reply(
                     "<html><body><p>apple pear apple plum apple</p></body></html>"));
    QVERIFY(m_xdg.isValid());
    QVERIFY(QDir().mkpath(DownloadFolder()));
    QFile dirs(m_xdg.filePath(QStringLiteral("user-dirs.dirs")));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOWNLOAD_DIR=\"" + QFile::encodeName(DownloadFolder()) + "\"\n");
    QVERIFY(QDir().mkpath(m_xdg.filePath(QStringLiteral("documents"))));
    dirs.write("XDG_DOCUMENTS_DIR=\"" + QFile::encodeName(m_xdg.filePath(QStringLiteral("documents"))) + "\"\n");
    dirs.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdg.path()));

    QVERIFY(QDir().mkpath(m_xdg.filePath(QStringLiteral("certificates"))));
    m_certificates = std::make_unique<TestCertificates>(m_xdg.filePath(QStringLiteral("certificates")).toStdString());
    QVERIFY2(m_certificates->made, "the openssl tool made no certificates");
    m_secureServer = std::make_unique<test::CTestHttpServer>("127.0.0.1", m_certificates->Path("server.pem"),
                                                             m_certificates->Path("server.key"));
    QVERIFY(m_secureServer->Started());
    m_secureServer->Answer("/intranet.html", test::Reply("<html><head><title>intranet</title></head><body>intranet</body></html>"));
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_desktop, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_desktop, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "Open");
}

void MainDlgTest::init()
{
    m_desktop.opened.clear();
    HomeUrl().clear();
    m_program = std::make_unique<TestProgram>();
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
}

void MainDlgTest::cleanup()
{
    m_dlg.reset();
    m_program.reset();
    HomeUrl().clear();
}

void MainDlgTest::WaitUntilDone()
{
    QTRY_COMPARE_WITH_TIMEOUT(Pane(0), QStringLiteral("Done"), kLoadTimeout);
}

void MainDlgTest::LoadAndWait(const QString& path)
{
    QSignalSpy done(BrowserOf(*m_dlg), &CWebBrowser::DownloadComplete);
    BrowserOf(*m_dlg)->Navigate(Url(path));
    QVERIFY(done.wait(kLoadTimeout));
    WaitUntilDone();
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(path));
}

void MainDlgTest::RestartWithSetting(std::string_view key, const QString& value)
{
    m_dlg.reset();
    std::string gbk;
    QVERIFY(Utf8ToGbk(value.toStdString(), gbk));
    QVERIFY(WriteProfileString(m_program->SettingsPath(), kSettingsSection, key, gbk));
    m_dlg = std::make_unique<CMainDlg>(m_program->SettingsPath(), m_program->Receiver());
}

QVariant MainDlgTest::Evaluate(const QString& script)
{
    // The answer may come after the wait gave up: it must find its place.
    const auto answer = std::make_shared<std::optional<QVariant>>();
    BrowserOf(*m_dlg)->page()->runJavaScript(script, [answer](const QVariant& value) { *answer = value; });
    if (!QTest::qWaitFor([&] { return answer->has_value(); }, 10000))
        qWarning("no answer to %s", qPrintable(script));
    return answer->value_or(QVariant());
}

void MainDlgTest::ClickPage(Qt::MouseButton button)
{
    QTRY_VERIFY_WITH_TIMEOUT(PageSurface(), 10000);
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    PageSurface()->setFocus();
    const QPoint middle(PageSurface()->width() / 2, PageSurface()->height() / 2);
    QTest::mouseClick(PageSurface(), button, {}, middle);
}

void MainDlgTest::ClickPageUntil(const std::function<bool()>& arrived, Qt::MouseButton button)
{
    for (int attempt = 0; attempt < 10 && !arrived(); ++attempt) {
        ClickPage(button);
        static_cast<void>(QTest::qWaitFor(arrived, 1000));
    }
}

void MainDlgTest::PressEscape()
{
    // The window is the active one again once a question has gone.
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
}

QString MainDlgTest::TypeIntoPage(const QString& text)
{
    const QString value = QStringLiteral("document.getElementById('essay').value");
    Evaluate(QStringLiteral("document.getElementById('essay').focus()"));
    // Keys that come before the page has taken the focus are lost; a few
    // tries, each checked.
    for (int attempt = 0; attempt < 10 && Evaluate(value).toString().isEmpty(); ++attempt) {
        QTest::keyClicks(PageSurface(), text);
        (void)QTest::qWaitFor([&] { return !Evaluate(value).toString().isEmpty(); }, 1000);
    }
    const QString typed = Evaluate(value).toString();
    if (typed.isEmpty())
        qWarning("nothing arrived in the page");
    return typed;
}

void MainDlgTest::KeyClick(QKeySequence keys)
{
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QTest::keySequence(m_dlg.get(), keys);
}

void MainDlgTest::startsMaximisedWithTitleAndDisabledNavigation()
{
    QVERIFY(m_dlg->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->isMaximized(), 10000);
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Larkspur-资源浏览器(V2.01)"));
    QVERIFY(!m_dlg->windowIcon().isNull());
    QVERIFY(ToolBarOf(*m_dlg));
    QVERIFY(!LinksOf(*m_dlg)->Navigated());
    QCOMPARE(m_dlg->centralWidget(), BrowserOf(*m_dlg));
    for (int command : kNavigationCommands)
        QVERIFY2(!Enabled(command), qPrintable(QString::number(command)));
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), QString());
}

void MainDlgTest::toolbarButtonsCarryCaptionsTipsAndSize()
{
    const QStringList captions = {QStringLiteral("后退"), QStringLiteral("前进"), QStringLiteral("停止"),
                                  QStringLiteral("刷新")};
    const QList<QAction*> actions = ToolBarOf(*m_dlg)->actions();
    QCOMPARE(actions.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QAction* action = ToolBarOf(*m_dlg)->Button(kNavigationCommands[i]);
        QCOMPARE(action, actions[i]);
        QCOMPARE(action->text(), captions[i]);
        QCOMPARE(action->toolTip(), captions[i]);
        QVERIFY(!action->icon().isNull());
        auto* button = qobject_cast<QToolButton*>(ToolBarOf(*m_dlg)->widgetForAction(action));
        QVERIFY(button);
        QCOMPARE(button->size(), QSize(43, 43));
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(button->autoRaise());
    }
    QCOMPARE(ToolBarOf(*m_dlg)->iconSize(), QSize(24, 24));
}

void MainDlgTest::statusBarShowsReadyThenTheClock()
{
    QCOMPARE(Pane(0), QStringLiteral("Ready"));
    QCOMPARE(Pane(1), QString());
    const QRegularExpression clock(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    QTRY_VERIFY_WITH_TIMEOUT(clock.match(Pane(2)).hasMatch(), 10000);
    const QString first = Pane(2);
    QTRY_VERIFY_WITH_TIMEOUT(Pane(2) != first, 10000);
    QVERIFY(clock.match(Pane(2)).hasMatch());
    QCOMPARE(Pane(0), QStringLiteral("Ready"));
}

void MainDlgTest::navigationShowsProgressAddressAndDone()
{
    QStringList seen;
    // Connected after the window's own handlers, so each sees their result.
    connect(BrowserOf(*m_dlg), &CWebBrowser::DownloadBegin, this, [&] { seen << Pane(0); });
    connect(BrowserOf(*m_dlg), &CWebBrowser::ProgressChange, this, [&] { seen << Pane(0) + QLatin1Char('|') + Pane(1); });
    const QString address = Url(QStringLiteral("/first.html"));

    LoadAndWait(QStringLiteral("/first.html"));

    QVERIFY2(seen.contains(QStringLiteral("Downloading")), qPrintable(seen.join(QLatin1Char(','))));
    QVERIFY2(seen.contains(address + QStringLiteral("|100/100")), qPrintable(seen.join(QLatin1Char(','))));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+/100$")).match(Pane(1)).hasMatch());
    QVERIFY(!Enabled(CMainDlg::ID_NAV_STOP));
    QVERIFY(!LinksOf(*m_dlg)->Navigated());
}

void MainDlgTest::backAndForwardFollowTheHistory()
{
    LoadAndWait(QStringLiteral("/first.html"));
    LoadAndWait(QStringLiteral("/second.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_BACK), 10000);
    QVERIFY(!Enabled(CMainDlg::ID_NAV_FORWARD));
    QVERIFY(!LinksOf(*m_dlg)->Navigated());

    ToolBarOf(*m_dlg)->Button(CMainDlg::ID_NAV_BACK)->trigger();
    QVERIFY(LinksOf(*m_dlg)->Navigated());
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/first.html")),
                              kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_FORWARD), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_BACK), 10000);

    ToolBarOf(*m_dlg)->Button(CMainDlg::ID_NAV_FORWARD)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/second.html")),
                              kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_BACK), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_FORWARD), 10000);
}

void MainDlgTest::refreshMarksNavigatedStopDoesNot()
{
    LoadAndWait(QStringLiteral("/first.html"));
    const int requestsBefore = Requests(QStringLiteral("/first.html"));

    m_dlg->OnStop();
    QVERIFY(!LinksOf(*m_dlg)->Navigated());

    QSignalSpy done(BrowserOf(*m_dlg), &CWebBrowser::DownloadComplete);
    m_dlg->OnRefresh();
    QVERIFY(LinksOf(*m_dlg)->Navigated());
    QVERIFY(done.wait(kLoadTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(Requests(QStringLiteral("/first.html")) > requestsBefore, 10000);
}

void MainDlgTest::stopEndsADownloadThatNeverFinishes()
{
    BrowserOf(*m_dlg)->Navigate(Url(QStringLiteral("/endless.html")));
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_STOP), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Requests(QStringLiteral("/endless.html")), 1, kLoadTimeout);
    QVERIFY(Pane(0) != QStringLiteral("Done"));

    ToolBarOf(*m_dlg)->Button(CMainDlg::ID_NAV_STOP)->trigger();
    WaitUntilDone();
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_STOP), 10000);
    QVERIFY(!LinksOf(*m_dlg)->Navigated());
}

void MainDlgTest::progressOutsideItsRangeChangesNothing()
{
    m_dlg->OnProgressChange(2048, 8192);
    QCOMPARE(Pane(1), QStringLiteral("2048/8192"));
    QCOMPARE(Pane(0), BrowserOf(*m_dlg)->LocationURL());

    StatusBarOf(*m_dlg)->SetPaneText(0, QStringLiteral("Done"));
    m_dlg->OnProgressChange(-1, 100);
    m_dlg->OnProgressChange(50, 0);
    m_dlg->OnProgressChange(50, -3);
    QCOMPARE(Pane(0), QStringLiteral("Done"));
    QCOMPARE(Pane(1), QStringLiteral("2048/8192"));
}

void MainDlgTest::otherCommandStatesChangeNothing()
{
    m_dlg->OnCommandStateChange(CWebBrowser::CSC_NAVIGATEBACK, true);
    m_dlg->OnCommandStateChange(0, true);
    m_dlg->OnCommandStateChange(3, true);
    QVERIFY(Enabled(CMainDlg::ID_NAV_BACK));
    QVERIFY(!Enabled(CMainDlg::ID_NAV_FORWARD));
    QVERIFY(!Enabled(CMainDlg::ID_NAV_STOP));
    QVERIFY(!Enabled(CMainDlg::ID_NAV_REFRESH));

    m_dlg->OnCommandStateChange(CWebBrowser::CSC_UPDATECOMMANDS, true);
    QVERIFY(Enabled(CMainDlg::ID_NAV_STOP));
    m_dlg->OnCommandStateChange(CWebBrowser::CSC_NAVIGATEFORWARD, true);
    QVERIFY(Enabled(CMainDlg::ID_NAV_FORWARD));
}

void MainDlgTest::aClickedNewWindowOpensInTheDesktopBrowser()
{
    LoadAndWait(QStringLiteral("/popups.html"));
    const QUrl outside(Url(QStringLiteral("/outside.html")));
    const int outsideBefore = Requests(outside.path());
    const int windowsBefore = QApplication::topLevelWidgets().size();

    // A click may land before the page takes input: click until one opens.
    ClickPageUntil([this] { return !m_desktop.opened.isEmpty(); });

    QTRY_COMPARE_WITH_TIMEOUT(m_desktop.opened.size(), 1, kLoadTimeout);
    QCOMPARE(m_desktop.opened.first(), outside);
    QTest::qWait(kSettleTime);
    QCOMPARE(m_desktop.opened.size(), 1);
    QCOMPARE(Requests(QStringLiteral("/outside.html")), outsideBefore);
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/popups.html")));
    QCOMPARE(m_dlg->findChildren<QWebEngineView*>().size(), 1);
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
}

void MainDlgTest::scriptPopupsWithoutAClickOpenNothing()
{
    LoadAndWait(QStringLiteral("/popups.html"));
    PrintedLines printed;
    // Each refused window holds the page up a little: no waiting for the answer.
    BrowserOf(*m_dlg)->page()->runJavaScript(QStringLiteral("burst(50)"));
    QTRY_COMPARE_WITH_TIMEOUT(printed.Count(QStringLiteral("New windows refused: 50 ")), 1, kLoadTimeout);
    QTest::qWait(kSettleTime);
    QVERIFY(m_desktop.opened.isEmpty());
    QCOMPARE(printed.Count(QStringLiteral("New window")), 1);
}

void MainDlgTest::newWindowsInsideOpenInTheOwnView()
{
    RestartWithSetting(kNewWindowKey, QStringLiteral("本窗口"));
    const QString outside = QStringLiteral("/outside.html");
    const int outsideBefore = Requests(outside);
    LoadAndWait(QStringLiteral("/popups.html"));
    ClickPageUntil([&] { return Requests(outside) > outsideBefore; });
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->LocationURL(), Url(outside), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Requests(outside), outsideBefore + 1, kLoadTimeout);
    QVERIFY(m_desktop.opened.isEmpty());
    QCOMPARE(m_dlg->findChildren<QWebEngineView*>().size(), 1);

    // Under the same rule: a script's window without a click gets nowhere.
    LoadAndWait(QStringLiteral("/popups.html"));
    BrowserOf(*m_dlg)->page()->runJavaScript(QStringLiteral("burst(3)"));
    QTest::qWait(kSettleTime);
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/popups.html")));
    QCOMPARE(Requests(outside), outsideBefore + 1);
}

void MainDlgTest::newWindowsOfOtherSchemesAreRefused()
{
    m_dlg->OnNewWindow2(QUrl(QStringLiteral("file:///etc/hostname")));
    m_dlg->OnNewWindow2(QUrl(QStringLiteral("javascript:alert(1)")));
    m_dlg->OnNewWindow2(QUrl());
    QVERIFY(m_desktop.opened.isEmpty());
    m_dlg->OnNewWindow2(QUrl(QStringLiteral("https://127.0.0.1/x")));
    QCOMPARE(m_desktop.opened.size(), 1);
}

void MainDlgTest::onlyHttpAndHttpsAreOpened_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("asHome");
    const QString page = Url(QStringLiteral("/first.html"));
    const struct {
        const char* name;
        QString address;
    } rows[] = {
        {"script", QStringLiteral("javascript:document.title='x'")},
        {"data", QStringLiteral("data:text/html,<p>hi</p>")},
        {"file", QStringLiteral("file:///etc/hostname")},
        {"folder listing", QStringLiteral("file:///home/")},
        {"page source", QStringLiteral("view-source:") + page},
        {"ftp", QStringLiteral("ftp://127.0.0.1/file")},
        {"mail", QStringLiteral("mailto:someone@example.org")},
        {"no scheme", QStringLiteral("127.0.0.1/first.html")},
        {"empty", QString()},
    };
    for (const auto& row : rows) {
        QTest::newRow(row.name) << row.address << false;
        QTest::newRow(qPrintable(QStringLiteral("home, ") + QLatin1String(row.name))) << row.address << true;
    }
}

void MainDlgTest::onlyHttpAndHttpsAreOpened()
{
    QFETCH(QString, address);
    QFETCH(bool, asHome);
    QSignalSpy begun(BrowserOf(*m_dlg), &CWebBrowser::DownloadBegin);
    PrintedLines printed;
    if (asHome) {
        HomeUrl() = address.toStdString();
        m_dlg->NavigateHome();
    } else {
        BrowserOf(*m_dlg)->Navigate(address);
    }
    QTest::qWait(kSettleTime);
    QCOMPARE(begun.size(), 0);
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), QString());
    QCOMPARE(Pane(0), QStringLiteral("Ready"));
    // The empty home is no address at all: nothing to say.
    if (!(asHome && address.isEmpty()))
        QCOMPARE(printed.Count(QStringLiteral("Not opened: ")), 1);
}

void MainDlgTest::aFailedLoadPassesTheGateQuietly()
{
    // A port nobody listens on: the engine's own error page shows, and the
    // gate has nothing to say about it.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    PrintedLines printed;
    QSignalSpy done(BrowserOf(*m_dlg), &CWebBrowser::DownloadComplete);
    BrowserOf(*m_dlg)->Navigate(address);
    QVERIFY(done.wait(kLoadTimeout));
    QTest::qWait(kSettleTime);
    QCOMPARE(printed.Lines(), QStringList());
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), address);
}

void MainDlgTest::noWayLeadsToAProgramResource_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("record") << QStringLiteral("record");
    QTest::newRow("click") << QStringLiteral("document.getElementById('resource').click()");
    QTest::newRow("script") << QStringLiteral("location.href = 'qrc:/kestrel/kestrel-16.png'");
    QTest::newRow("redirect") << QStringLiteral("location.href = '%1'").arg(Url(QStringLiteral("/to-resource")));
}

void MainDlgTest::noWayLeadsToAProgramResource()
{
    QFETCH(QString, how);
    LoadAndWait(QStringLiteral("/gate.html"));
    PrintedLines printed;
    if (how == QLatin1String("record"))
        BrowserOf(*m_dlg)->Navigate(QStringLiteral("qrc:/kestrel/kestrel-16.png"));
    else
        Evaluate(how);
    QTRY_COMPARE_WITH_TIMEOUT(printed.Count(QStringLiteral("Not opened: \"qrc:/kestrel/kestrel-16.png\"")), 1, 10000);
    QTest::qWait(kSettleTime);
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/gate.html")));
    QCOMPARE(Evaluate(QStringLiteral("document.getElementById('resource') !== null")).toBool(), true);
}

void MainDlgTest::localFolderPagesStayInsideIt()
{
    // A Chinese folder name, as the GBK settings file holds it.
    QTemporaryDir top;
    QVERIFY(top.isValid());
    const QDir dir(top.path());
    QVERIFY(dir.mkpath(QStringLiteral("课件")));
    QFile secret(dir.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    const QString probe = Url(QStringLiteral("/probe"));
    const QString socket = QString(probe).replace(QStringLiteral("http:"), QStringLiteral("ws:"));
    QFile lesson(dir.filePath(QStringLiteral("课件/lesson.html")));
    QVERIFY(lesson.open(QIODevice::WriteOnly));
    lesson.write(QStringLiteral(
        "<html><body><p id='lesson'>lesson</p>"
        "<img src='%1-image'><iframe src='%1-frame'></iframe><iframe src='../secret.txt'></iframe>"
        "<script>var reads = [];"
        "fetch('../secret.txt').then(function (r) { return r.text(); }).then("
        "  function (t) { reads.push('fetch ' + t); }, function () { reads.push('fetch refused'); });"
        "var x = new XMLHttpRequest(); x.open('GET', '../secret.txt');"
        "x.onload = function () { reads.push('xhr ' + x.responseText); };"
        "x.onerror = function () { reads.push('xhr refused'); }; x.send();"
        "fetch('%1-fetch', {mode: 'no-cors'}).catch(function () {});"
        "try { new WebSocket('%2-socket'); } catch (e) {}"
        "reads.push('webrtc ' + typeof RTCPeerConnection);"
        "</script></body></html>")
                     .arg(probe, socket)
                     .toUtf8());
    lesson.close();
    RestartWithSetting(kLocalFolderKey, dir.filePath(QStringLiteral("课件")));

    const QUrl address = QUrl::fromLocalFile(lesson.fileName());
    BrowserOf(*m_dlg)->Navigate(address.toString());
    WaitUntilDone();
    QCOMPARE(BrowserOf(*m_dlg)->url(), address);
    QTRY_COMPARE_WITH_TIMEOUT(Evaluate(QStringLiteral("reads.length")).toInt(), 3, 10000);
    const QStringList reads = Evaluate(QStringLiteral("reads.sort().join(',')")).toString().split(QLatin1Char(','));
    QCOMPARE(reads, QStringList({QStringLiteral("fetch refused"), QStringLiteral("webrtc undefined"),
                                 QStringLiteral("xhr refused")}));
    QTest::qWait(kSettleTime);
    for (const char* path : {"/probe-image", "/probe-frame", "/probe-fetch", "/probe-socket"})
        QVERIFY2(Requests(QString::fromLatin1(path)) == 0, path);

    // Beside the folder is outside it, and a local page may not leave for the network.
    PrintedLines printed;
    const int webBefore = Requests(QStringLiteral("/first.html"));
    BrowserOf(*m_dlg)->Navigate(QUrl::fromLocalFile(secret.fileName()).toString());
    Evaluate(QStringLiteral("location.href = '%1'").arg(Url(QStringLiteral("/first.html"))));
    QTest::qWait(kSettleTime);
    QCOMPARE(BrowserOf(*m_dlg)->url(), address);
    QCOMPARE(printed.Count(QStringLiteral("Not opened: ")), 2);
    QCOMPARE(Requests(QStringLiteral("/first.html")), webBefore);
}

void MainDlgTest::permissionsAreDeniedAtOnce_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("camera") << QStringLiteral("navigator.mediaDevices.getUserMedia({video: true})");
    QTest::newRow("microphone") << QStringLiteral("navigator.mediaDevices.getUserMedia({audio: true})");
    QTest::newRow("screen") << QStringLiteral("navigator.mediaDevices.getDisplayMedia({video: true})");
    QTest::newRow("location") << QStringLiteral(
        "new Promise(function (ok, no) { navigator.geolocation.getCurrentPosition(ok, function (e) { "
        "no({name: 'code' + e.code}); }); })");
    QTest::newRow("notifications") << QStringLiteral(
        "Notification.requestPermission().then(function (p) { if (p !== 'granted') throw {name: p}; return p; })");
}

void MainDlgTest::permissionsAreDeniedAtOnce()
{
    QFETCH(QString, request);
    LoadAndWait(QStringLiteral("/ask.html"));
    // The page's own click, since some requests need one.
    ClickPage();
    Evaluate(QStringLiteral("ask(%1)").arg(request));
    QTRY_VERIFY_WITH_TIMEOUT(!Evaluate(QStringLiteral("answer")).toString().isEmpty(), 10000);
    const QStringList answer = Evaluate(QStringLiteral("answer")).toString().split(QLatin1Char(' '));
    QCOMPARE(answer.size(), 3);
    QCOMPARE(answer[0], QStringLiteral("denied"));
    QVERIFY2(answer[2].toInt() < 1000, qPrintable(answer.join(QLatin1Char(' '))));
}

void MainDlgTest::contextMenuHoldsOnlyWhatWorks()
{
    const QStringList common = {QStringLiteral("后退"), QStringLiteral("前进"), QStringLiteral("刷新"),
                                QStringLiteral("复制"), QStringLiteral("粘贴"), QStringLiteral("全选")};
    const auto entries = [](QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator())
                texts << action->text();
        }
        return texts;
    };
    LoadAndWait(QStringLiteral("/popups.html"));
    ClickPageUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }, Qt::RightButton);
    QMenu* menu = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())), 10000);
    QCOMPARE(entries(menu), common + QStringList({QStringLiteral("复制链接地址"), QStringLiteral("在新窗口中打开")}));
    menu->close();

    std::unique_ptr<QMenu> plain(BrowserOf(*m_dlg)->CreateContextMenu(QUrl()));
    QCOMPARE(entries(plain.get()), common);
    // A link of another kind can be copied, never opened in a window.
    std::unique_ptr<QMenu> other(BrowserOf(*m_dlg)->CreateContextMenu(QUrl(QStringLiteral("mailto:a@b.c"))));
    QCOMPARE(entries(other.get()), common + QStringList({QStringLiteral("复制链接地址")}));
}

void MainDlgTest::contextMenuRefreshMarksNavigated()
{
    LoadAndWait(QStringLiteral("/first.html"));
    const int requestsBefore = Requests(QStringLiteral("/first.html"));
    std::unique_ptr<QMenu> menu(BrowserOf(*m_dlg)->CreateContextMenu(QUrl()));
    for (QAction* action : menu->actions()) {
        if (action->text() == QStringLiteral("刷新"))
            action->trigger();
    }
    QVERIFY(LinksOf(*m_dlg)->Navigated());
    QTRY_VERIFY_WITH_TIMEOUT(Requests(QStringLiteral("/first.html")) > requestsBefore, kLoadTimeout);
}

void MainDlgTest::homeOpensOnlyWhenKnown()
{
    QSignalSpy begun(BrowserOf(*m_dlg), &CWebBrowser::DownloadBegin);
    m_dlg->NavigateHome();
    QTest::qWait(kSettleTime);
    QCOMPARE(begun.size(), 0);

    HomeUrl() = Url(QStringLiteral("/second.html")).toStdString();
    m_dlg->NavigateHome();
    WaitUntilDone();
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/second.html")));
    QVERIFY(!LinksOf(*m_dlg)->Navigated());
}

void MainDlgTest::escapeEndsTheWindow_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("empty browser") << QString();
    QTest::newRow("page without unsaved work") << QStringLiteral("/first.html");
}

void MainDlgTest::escapeEndsTheWindow()
{
    QFETCH(QString, page);
    if (!page.isEmpty())
        LoadAndWait(page);
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 10000);
}

void MainDlgTest::escapeAsksAPageWithUnsavedWork()
{
    LoadAndWait(QStringLiteral("/essay.html"));
    ClickPage();
    const QString essay = TypeIntoPage(QStringLiteral("my essay"));
    QVERIFY(essay.contains(QStringLiteral("my essay")));

    LeaveAnswer stay(QStringLiteral("留下"));
    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(stay.answered, 10000);
    QCOMPARE(stay.title, QStringLiteral("离开此网页？"));
    QCOMPARE(stay.text, QStringLiteral("您所做的更改可能不会保存。"));
    QCOMPARE(stay.buttons.size(), 2);
    QVERIFY(stay.buttons.contains(QStringLiteral("离开")));
    // Well past the time a page may take to answer.
    QTest::qWait(CWebBrowser::kCloseAnswerMs + kSettleTime);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(Evaluate(QStringLiteral("document.getElementById('essay').value")).toString(), essay);

    LeaveAnswer leave(QStringLiteral("离开"));
    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(leave.answered, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 10000);
}

void MainDlgTest::aHungPageDoesNotKeepTheWindow()
{
    LoadAndWait(QStringLiteral("/essay.html"));
    ClickPage();
    QVERIFY(!TypeIntoPage(QStringLiteral("x")).isEmpty());
    BrowserOf(*m_dlg)->page()->runJavaScript(QStringLiteral("setTimeout(function () { for (;;) {} }, 0)"));
    QTest::qWait(kSettleTime);
    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), CWebBrowser::kCloseAnswerMs + kSettleTime);
}

void MainDlgTest::endingWithoutAskingIgnoresUnsavedWork()
{
    LoadAndWait(QStringLiteral("/essay.html"));
    ClickPage();
    QVERIFY(!TypeIntoPage(QStringLiteral("x")).isEmpty());
    // With the question open, as a logout may find it.
    LeaveQuestionWatch logout([this](QMessageBox*) { m_dlg->EndWithoutAsking(); });
    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(logout.seen, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 10000);
    QVERIFY(!QApplication::activeModalWidget());
}

void MainDlgTest::closeRequestsTakeTheCancelPath()
{
    // The Cancel path closes the channel before the window goes.
    QVERIFY(m_program->Receiver().SocketHandle() != -1);
    QVERIFY(m_dlg->isVisible());
    QVERIFY(m_dlg->close());
    QCOMPARE(m_program->Receiver().SocketHandle(), -1);
    QVERIFY(!m_dlg->isVisible());
}

void MainDlgTest::comeForwardRestoresAMinimisedWindow()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->isMaximized(), 10000);
    m_dlg->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->isMinimized(), 10000);

    m_dlg->ComeForward();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isMinimized(), 10000);
    QVERIFY(m_dlg->isMaximized());
    QVERIFY(m_dlg->isVisible());

    // A window in front keeps its size.
    m_dlg->ComeForward();
    QVERIFY(m_dlg->isMaximized());
}

void MainDlgTest::withoutProgramPathTheWindowStaysBare()
{
    m_dlg = std::make_unique<CMainDlg>(std::string(), m_program->Receiver());
    QVERIFY(m_dlg->isVisible());
    QVERIFY(!m_dlg->isMaximized());
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Larkspur-资源浏览器(V2.01)"));
    QVERIFY(!ToolBarOf(*m_dlg));
    QVERIFY(!StatusBarOf(*m_dlg));
    QVERIFY(!ToolBarOf(*m_dlg));
    QCOMPARE(m_dlg->centralWidget(), BrowserOf(*m_dlg));
    QTest::qWait(kSettleTime);
    QVERIFY(m_dlg->findChildren<QToolBar*>().isEmpty());
}

void MainDlgTest::aPdfShowsInTheWindow()
{
    LoadAndWait(QStringLiteral("/worksheet.pdf"));
    // Without a screen the engine draws nothing to look at; the page it
    // shows is the viewer's, holding the PDF.
    QTRY_COMPARE_WITH_TIMEOUT(Evaluate(QStringLiteral("document.contentType + ' ' + document.embeds.length + ' ' + "
                                                      "(document.embeds[0] && document.embeds[0].type)"))
                                  .toString(),
                              QStringLiteral("application/pdf 1 application/pdf"), 10000);
    QCOMPARE(Requests(QStringLiteral("/worksheet.pdf")), 1);
    QTest::qWait(kSettleTime);
    QVERIFY(!QDir(DownloadFolder()).exists() || QDir(DownloadFolder()).isEmpty());
    QVERIFY(Pane(0) == QStringLiteral("Done"));
}

void MainDlgTest::downloadsLandInTheDownloadFolderUnderTheirOwnNames()
{
    QDir(DownloadFolder()).removeRecursively();
    const QByteArray bytes("lesson\0notes\r\n", 15);
    PrintedLines printed;
    LoadAndWait(QStringLiteral("/attachments.html"));
    const QStringList expected = {QStringLiteral("notes.txt"), QStringLiteral("notes (2).txt")};
    for (int i = 0; i < expected.size(); ++i) {
        Evaluate(QStringLiteral("document.getElementById('notes').click()"));
        const QString path = QDir(DownloadFolder()).filePath(expected[i]);
        QTRY_COMPARE_WITH_TIMEOUT(Pane(0), QStringLiteral("已保存到下载文件夹：%1").arg(expected[i]), kLoadTimeout);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), bytes);
        const QFile::Permissions executable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther | QFile::ExeUser;
        QCOMPARE(saved.permissions() & executable, QFile::Permissions());
        QCOMPARE(Pane(1), QStringLiteral("15/15"));
    }
    QCOMPARE(QDir(DownloadFolder()).entryList(QDir::Files).size(), 2);
    // Saved, not started: nothing went to the desktop, the page stayed.
    QVERIFY(m_desktop.opened.isEmpty());
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/attachments.html")));
    QCOMPARE(printed.Count(QStringLiteral("Download saved: %1").arg(QDir(DownloadFolder()).filePath(expected[1]))), 1);
}

void MainDlgTest::refusedDownloadsAreNotSaved_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("off");
    QTest::addColumn<QString>("line");
    QTest::newRow("script") << QStringLiteral("/setup") << QString() << QStringLiteral("未保存：不允许下载程序或安装包：setup.sh");
    QTest::newRow("desktop entry") << QStringLiteral("/entry") << QString()
                                   << QStringLiteral("未保存：不允许下载程序或安装包：game.desktop");
    QTest::newRow("downloads off") << QStringLiteral("/notes") << QStringLiteral("关")
                                   << QStringLiteral("下载已关闭，未保存：notes.txt");
}

void MainDlgTest::refusedDownloadsAreNotSaved()
{
    QFETCH(QString, path);
    QFETCH(QString, off);
    QFETCH(QString, line);
    QDir(DownloadFolder()).removeRecursively();
    if (!off.isEmpty())
        RestartWithSetting(kDownloadsKey, off);
    PrintedLines printed;
    BrowserOf(*m_dlg)->Navigate(Url(path));
    QTRY_COMPARE_WITH_TIMEOUT(Pane(0), line, kLoadTimeout);
    QTest::qWait(kSettleTime);
    QVERIFY(!QDir(DownloadFolder()).exists() || QDir(DownloadFolder()).isEmpty());
    QCOMPARE(printed.Count(QStringLiteral("Download not saved")), 1);
    QVERIFY(m_desktop.opened.isEmpty());
}

void MainDlgTest::anElementGoesFullscreenAndEscapeReturns()
{
    LoadAndWait(QStringLiteral("/video.html"));
    ClickPageUntil([this] { return Evaluate(QStringLiteral("log")).toString().contains(QStringLiteral("click")); });
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->isFullScreen(), 10000);
    QVERIFY(!ToolBarOf(*m_dlg)->isVisible());
    QVERIFY(!StatusBarOf(*m_dlg)->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(Evaluate(QStringLiteral("log")).toString(), QStringLiteral("mousedown mouseup click ok"), 10000);
    QCOMPARE(Evaluate(QStringLiteral("document.fullscreenElement.id")).toString(), QStringLiteral("video"));

    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isFullScreen(), 10000);
    QVERIFY(ToolBarOf(*m_dlg)->isVisible());
    QVERIFY(StatusBarOf(*m_dlg)->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(Evaluate(QStringLiteral("document.fullscreenElement === null")).toBool(), 10000);
    // The first Escape only left fullscreen.
    QTest::qWait(kSettleTime);
    QVERIFY(m_dlg->isVisible());
}

void MainDlgTest::aLoginPageOpensAfterTheDialog()
{
    QString title;
    DialogWatch<QDialog> login(QStringLiteral("loginDialog"), [&title](QDialog* dialog) {
        title = dialog->windowTitle();
        dialog->findChild<QLineEdit*>(QStringLiteral("loginUser"))->setText(QStringLiteral("pupil"));
        dialog->findChild<QLineEdit*>(QStringLiteral("loginPassword"))->setText(QStringLiteral("secret"));
        dialog->accept();
    });
    LoadAndWait(QStringLiteral("/login.html"));
    QVERIFY(login.seen);
    QCOMPARE(title, QStringLiteral("需要登录"));
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->title(), QStringLiteral("inside"), 10000);
    QStringList sent;
    for (const test::Request& request : m_server.Requests()) {
        if (request.path == "/login.html" && !request.Header("authorization").empty())
            sent.append(QString::fromStdString(request.Header("authorization")));
    }
    QCOMPARE(sent, QStringList{"Basic " + QByteArray("pupil:secret").toBase64()});
}

void MainDlgTest::zoomKeysZoomAndReset()
{
    LoadAndWait(QStringLiteral("/first.html"));
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_Plus));
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_Equal));
    QVERIFY(qFuzzyCompare(BrowserOf(*m_dlg)->zoomFactor(), 1.2));
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QVERIFY(qFuzzyCompare(BrowserOf(*m_dlg)->zoomFactor(), 1.1));
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_0));
    QVERIFY(qFuzzyCompare(BrowserOf(*m_dlg)->zoomFactor(), 1.0));
}

void MainDlgTest::reloadAndHistoryKeysActAsTheButtons()
{
    // Before anything loaded the keys do nothing, as the buttons can't.
    KeyClick(QKeySequence(Qt::Key_F5));
    QVERIFY(!LinksOf(*m_dlg)->Navigated());

    LoadAndWait(QStringLiteral("/first.html"));
    LoadAndWait(QStringLiteral("/second.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_BACK), 10000);
    // What the first link record does.
    ToolBarOf(*m_dlg)->EnableButton(CMainDlg::ID_NAV_REFRESH, true);
    QVERIFY(!LinksOf(*m_dlg)->Navigated());
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}) {
        const int before = Requests(QStringLiteral("/second.html"));
        KeyClick(keys);
        QVERIFY(LinksOf(*m_dlg)->Navigated());
        QTRY_VERIFY_WITH_TIMEOUT(Requests(QStringLiteral("/second.html")) > before, kLoadTimeout);
        WaitUntilDone();
    }
    KeyClick(QKeySequence(Qt::ALT | Qt::Key_Left));
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/first.html")),
                              kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_FORWARD), 10000);
    KeyClick(QKeySequence(Qt::ALT | Qt::Key_Right));
    QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->LocationURL(), Url(QStringLiteral("/second.html")),
                              kLoadTimeout);
}

void MainDlgTest::findBarFindsAndEscapeClosesItFirst()
{
    LoadAndWait(QStringLiteral("/words.html"));
    QVERIFY(!FindBarOf(*m_dlg)->isVisible());
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_F));
    QTRY_VERIFY_WITH_TIMEOUT(FindBarOf(*m_dlg)->isVisible(), 10000);
    auto* text = FindBarOf(*m_dlg)->findChild<QLineEdit*>(QStringLiteral("findText"));
    QVERIFY(text->hasFocus());
    QTest::keyClicks(text, QStringLiteral("apple"));
    QTRY_COMPARE_WITH_TIMEOUT(FindBarOf(*m_dlg)->MatchText(), QStringLiteral("1/3"), 10000);
    QTest::keyClick(text, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(FindBarOf(*m_dlg)->MatchText(), QStringLiteral("2/3"), 10000);

    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(!FindBarOf(*m_dlg)->isVisible(), 10000);
    QTest::qWait(kSettleTime);
    QVERIFY(m_dlg->isVisible());
    PressEscape();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 10000);
}

void MainDlgTest::printKeyOpensThePrintDialog()
{
    LoadAndWait(QStringLiteral("/first.html"));
    // Escape closes the dialog, and only the dialog.
    bool closed = false;
    DialogWatch<QPrintDialog> print(QStringLiteral("printDialog"), [&closed](QPrintDialog* dialog) {
        QTest::keyClick(dialog, Qt::Key_Escape);
        closed = !dialog->isVisible();
    });
    KeyClick(QKeySequence(Qt::CTRL | Qt::Key_P));
    QTRY_VERIFY_WITH_TIMEOUT(print.seen, 10000);
    QVERIFY(closed);
    QTest::qWait(kSettleTime);
    QVERIFY(m_dlg->isVisible());
}

void MainDlgTest::aKilledRendererComesBackOnceAMinute()
{
    LoadAndWait(QStringLiteral("/first.html"));
    QWebEnginePage* page = BrowserOf(*m_dlg)->page();
    const qint64 first = page->renderProcessPid();
    QVERIFY(first > 0);
    ::kill(static_cast<pid_t>(first), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(Pane(0), QStringLiteral("网页意外终止，已重新载入"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(page->renderProcessPid() > 0 && page->renderProcessPid() != first, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(Evaluate(QStringLiteral("document.title")).toString(), QStringLiteral("first"), 3000);
    QVERIFY(!BrowserOf(*m_dlg)->Notice()->isVisible());

    const int requests = Requests(QStringLiteral("/first.html"));
    ::kill(static_cast<pid_t>(page->renderProcessPid()), SIGKILL);
    CBrowserNotice* notice = BrowserOf(*m_dlg)->Notice();
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    QCOMPARE(notice->Title(), QStringLiteral("此网页无法显示"));
    QTest::qWait(kSettleTime);
    QCOMPARE(Requests(QStringLiteral("/first.html")), requests);

    auto* reload = notice->findChild<QPushButton*>();
    QCOMPARE(reload->text(), QStringLiteral("重新载入"));
    reload->click();
    QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(Requests(QStringLiteral("/first.html")), requests + 1, kLoadTimeout);
}

void MainDlgTest::theWaitingNoticeShowsUntilTheFirstPage()
{
    // A real port, free for now, so that the notice names it.
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const QString port = QString::number(probe.localPort());
    probe.close();
    RestartWithSetting(kMainChannelPortKey, port);
    CBrowserNotice* notice = BrowserOf(*m_dlg)->Notice();
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    QCOMPARE(notice->Title(), QStringLiteral("正在等待课堂链接"));
    QVERIFY2(notice->Text().contains(QStringLiteral("UDP 端口 %1 ").arg(port)), qPrintable(notice->Text()));
    QVERIFY(!notice->Text().contains(QStringLiteral("请检查")));
    QCOMPARE(notice->geometry(), BrowserOf(*m_dlg)->rect());
    // Drawn by the window: no page, no history.
    QCOMPARE(BrowserOf(*m_dlg)->LocationURL(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(notice->Text().contains(QStringLiteral("请检查")), 20000);
    QCOMPARE(Pane(0), QStringLiteral("Ready"));

    LoadAndWait(QStringLiteral("/first.html"));
    QVERIFY(!notice->isVisible());
    QCOMPARE(BrowserOf(*m_dlg)->history()->count(), 1);
}

void MainDlgTest::theUploadChooserOpensInTheDocumentsFolder()
{
    LoadAndWait(QStringLiteral("/upload.html"));
    QString folder;
    QString title;
    DialogWatch<QFileDialog> chooser(QStringLiteral("uploadChooser"), [&](QFileDialog* dialog) {
        folder = dialog->directory().absolutePath();
        title = dialog->windowTitle();
        dialog->reject();
    });
    ClickPageUntil([&chooser] { return chooser.seen; });
    QVERIFY(chooser.seen);
    QCOMPARE(folder, QDir(m_xdg.filePath(QStringLiteral("documents"))).absolutePath());
    QCOMPARE(title, QStringLiteral("选择要上传的文件"));
}

void MainDlgTest::onlyTheSystemStoresAuthoritiesAreTrusted_data()
{
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<bool>("opens");
    QTest::newRow("the school's authority") << QStringLiteral("ca.pem") << true;
    QTest::newRow("an unknown authority") << QStringLiteral("other-ca.pem") << false;
}

void MainDlgTest::onlyTheSystemStoresAuthoritiesAreTrusted()
{
    QFETCH(QString, bundle);
    QFETCH(bool, opens);
    BrowserOf(*m_dlg)->SetCertificateBundle(QString::fromStdString(m_certificates->Path(bundle.toStdString())));
    PrintedLines printed;
    const int requests = m_secureServer->RequestCount("/intranet.html");
    QSignalSpy done(BrowserOf(*m_dlg), &CWebBrowser::DownloadComplete);
    BrowserOf(*m_dlg)->Navigate(QString::fromStdString(m_secureServer->Url("/intranet.html")));
    QVERIFY(done.wait(kLoadTimeout));
    CBrowserNotice* notice = BrowserOf(*m_dlg)->Notice();
    if (opens) {
        QTRY_COMPARE_WITH_TIMEOUT(BrowserOf(*m_dlg)->title(), QStringLiteral("intranet"), 10000);
        QVERIFY(!notice->isVisible());
        QCOMPARE(m_secureServer->RequestCount("/intranet.html"), requests + 1);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    QCOMPARE(notice->Title(), QStringLiteral("无法安全地打开此网站"));
    QVERIFY2(notice->Text().startsWith(QStringLiteral("127.0.0.1：网站的证书不是由本机信任的机构签发的。")), qPrintable(notice->Text()));
    // Nothing to click through: no button, and the page never came.
    QVERIFY(!notice->findChild<QPushButton*>()->isVisible());
    QCOMPARE(m_secureServer->RequestCount("/intranet.html"), requests);
    QCOMPARE(printed.Count(QStringLiteral("Certificate refused for")), 1);
}

} // namespace kestrel

QTEST_MAIN(kestrel::MainDlgTest)
#include "MainDlgTest.moc"
