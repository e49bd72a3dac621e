// The real main window with the real web engine, against pages served on
// 127.0.0.1 by the test itself.

#include "catalogue/HomeUrl.h"
#include "tests/ui/PageServer.h"
#include "tests/ui/TestProgram.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WebBrowser.h"

#include <QDesktopServices>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWebEngineView>

#include <memory>

namespace kestrel {

namespace {

// Generous: the engine starts slowly on a busy two-core machine.
constexpr int kLoadTimeout = 60000;
constexpr int kSettleTime = 1500;


const int kNavigationCommands[] = {CMainDlg::ID_NAV_BACK, CMainDlg::ID_NAV_FORWARD, CMainDlg::ID_NAV_STOP,
                                   CMainDlg::ID_NAV_REFRESH};

// Stands in for the desktop's browser: records what the program hands to it.
class DesktopRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

// Counts the close requests that reach the window.
class CloseCountingDlg : public CMainDlg {
public:
    using CMainDlg::CMainDlg;
    int closeRequests = 0;

protected:
    void OnClose() override
    {
        ++closeRequests;
        CMainDlg::OnClose();
    }
};

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
    void newWindowsOpenInTheDesktopBrowser_data();
    void newWindowsOpenInTheDesktopBrowser();
    void newWindowsOfOtherSchemesAreRefused();
    void onlyHttpHttpsAndFileAreOpened_data();
    void onlyHttpHttpsAndFileAreOpened();
    void fileAddressesOpen();
    void homeOpensOnlyWhenKnown();
    void escapeEndsTheWindow();
    void closeRequestsTakeTheCancelPath();
    void comeForwardRestoresAMinimisedWindow();
    void withoutProgramPathTheWindowStaysBare();

private:
    void WaitUntilDone();
    void LoadAndWait(const QString& path);
    QString Pane(int pane) const { return m_dlg->m_wndStatusBar->GetPaneText(pane); }
    bool Enabled(int command) const { return m_dlg->m_wndToolBar->IsButtonEnabled(command); }

    PageServer m_server;
    DesktopRecorder m_desktop;
    std::unique_ptr<TestProgram> m_program;
    std::unique_ptr<CMainDlg> m_dlg;
};

void MainDlgTest::initTestCase()
{
    QVERIFY(m_server.IsListening());
    m_server.AddPage(QStringLiteral("/first.html"),
                     "<html><head><title>first</title></head><body><p>first page</p></body></html>");
    m_server.AddPage(QStringLiteral("/second.html"),
                     "<html><head><title>second</title></head><body><p>second page</p></body></html>");
    const QByteArray outside = m_server.Url(QStringLiteral("/outside.html")).toEncoded();
    m_server.AddPage(QStringLiteral("/opener.html"),
                     "<html><body><a id='blank' target='_blank' href='" + outside + "'>outside</a></body></html>");
    m_server.AddPage(QStringLiteral("/outside.html"), "<html><body>outside</body></html>");
    m_server.AddEndlessPage(QStringLiteral("/endless.html"));
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
    QSignalSpy done(m_dlg->m_browser, &CWebBrowser::DownloadComplete);
    m_dlg->m_browser->Navigate(m_server.Url(path).toString());
    QVERIFY(done.wait(kLoadTimeout));
    WaitUntilDone();
    QCOMPARE(m_dlg->m_browser->LocationURL(), m_server.Url(path).toString());
}

void MainDlgTest::startsMaximisedWithTitleAndDisabledNavigation()
{
    QVERIFY(m_dlg->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->isMaximized(), 10000);
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Larkspur-资源浏览器(V2.01)"));
    QVERIFY(!m_dlg->windowIcon().isNull());
    QVERIFY(m_dlg->m_bLayoutReady);
    QVERIFY(!m_dlg->m_bNavigated);
    QCOMPARE(m_dlg->centralWidget(), m_dlg->m_browser);
    for (int command : kNavigationCommands)
        QVERIFY2(!Enabled(command), qPrintable(QString::number(command)));
    QCOMPARE(m_dlg->m_browser->LocationURL(), QString());
}

void MainDlgTest::toolbarButtonsCarryCaptionsTipsAndSize()
{
    const QStringList captions = {QStringLiteral("后退"), QStringLiteral("前进"), QStringLiteral("停止"),
                                  QStringLiteral("刷新")};
    const QList<QAction*> actions = m_dlg->m_wndToolBar->actions();
    QCOMPARE(actions.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QAction* action = m_dlg->m_wndToolBar->Button(kNavigationCommands[i]);
        QCOMPARE(action, actions[i]);
        QCOMPARE(action->text(), captions[i]);
        QCOMPARE(action->toolTip(), captions[i]);
        QVERIFY(!action->icon().isNull());
        auto* button = qobject_cast<QToolButton*>(m_dlg->m_wndToolBar->widgetForAction(action));
        QVERIFY(button);
        QCOMPARE(button->size(), QSize(43, 43));
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(button->autoRaise());
    }
    QCOMPARE(m_dlg->m_wndToolBar->iconSize(), QSize(24, 24));
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
    connect(m_dlg->m_browser, &CWebBrowser::DownloadBegin, this, [&] { seen << Pane(0); });
    connect(m_dlg->m_browser, &CWebBrowser::ProgressChange, this, [&] { seen << Pane(0) + QLatin1Char('|') + Pane(1); });
    const QString address = m_server.Url(QStringLiteral("/first.html")).toString();

    LoadAndWait(QStringLiteral("/first.html"));

    QVERIFY2(seen.contains(QStringLiteral("Downloading")), qPrintable(seen.join(QLatin1Char(','))));
    QVERIFY2(seen.contains(address + QStringLiteral("|100/100")), qPrintable(seen.join(QLatin1Char(','))));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+/100$")).match(Pane(1)).hasMatch());
    QVERIFY(!Enabled(CMainDlg::ID_NAV_STOP));
    QVERIFY(!m_dlg->m_bNavigated);
}

void MainDlgTest::backAndForwardFollowTheHistory()
{
    LoadAndWait(QStringLiteral("/first.html"));
    LoadAndWait(QStringLiteral("/second.html"));
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_BACK), 10000);
    QVERIFY(!Enabled(CMainDlg::ID_NAV_FORWARD));
    QVERIFY(!m_dlg->m_bNavigated);

    m_dlg->m_wndToolBar->Button(CMainDlg::ID_NAV_BACK)->trigger();
    QVERIFY(m_dlg->m_bNavigated);
    QTRY_COMPARE_WITH_TIMEOUT(m_dlg->m_browser->LocationURL(), m_server.Url(QStringLiteral("/first.html")).toString(),
                              kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_FORWARD), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_BACK), 10000);

    m_dlg->m_wndToolBar->Button(CMainDlg::ID_NAV_FORWARD)->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_dlg->m_browser->LocationURL(), m_server.Url(QStringLiteral("/second.html")).toString(),
                              kLoadTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_BACK), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_FORWARD), 10000);
}

void MainDlgTest::refreshMarksNavigatedStopDoesNot()
{
    LoadAndWait(QStringLiteral("/first.html"));
    const int requestsBefore = m_server.RequestCount(QStringLiteral("/first.html"));

    m_dlg->OnStop();
    QVERIFY(!m_dlg->m_bNavigated);

    QSignalSpy done(m_dlg->m_browser, &CWebBrowser::DownloadComplete);
    m_dlg->OnRefresh();
    QVERIFY(m_dlg->m_bNavigated);
    QVERIFY(done.wait(kLoadTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.RequestCount(QStringLiteral("/first.html")) > requestsBefore, 10000);
}

void MainDlgTest::stopEndsADownloadThatNeverFinishes()
{
    m_dlg->m_browser->Navigate(m_server.Url(QStringLiteral("/endless.html")).toString());
    QTRY_VERIFY_WITH_TIMEOUT(Enabled(CMainDlg::ID_NAV_STOP), kLoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.RequestCount(QStringLiteral("/endless.html")), 1, kLoadTimeout);
    QVERIFY(Pane(0) != QStringLiteral("Done"));

    m_dlg->m_wndToolBar->Button(CMainDlg::ID_NAV_STOP)->trigger();
    WaitUntilDone();
    QTRY_VERIFY_WITH_TIMEOUT(!Enabled(CMainDlg::ID_NAV_STOP), 10000);
    QVERIFY(!m_dlg->m_bNavigated);
}

void MainDlgTest::progressOutsideItsRangeChangesNothing()
{
    m_dlg->OnProgressChange(2048, 8192);
    QCOMPARE(Pane(1), QStringLiteral("2048/8192"));
    QCOMPARE(Pane(0), m_dlg->m_browser->LocationURL());

    m_dlg->m_wndStatusBar->SetPaneText(0, QStringLiteral("Done"));
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

void MainDlgTest::newWindowsOpenInTheDesktopBrowser_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("script popup") << QStringLiteral("window.open('{outside}');");
    QTest::newRow("link to a new window") << QStringLiteral("document.getElementById('blank').click();");
}

void MainDlgTest::newWindowsOpenInTheDesktopBrowser()
{
    QFETCH(QString, script);
    LoadAndWait(QStringLiteral("/opener.html"));
    const QUrl outside = m_server.Url(QStringLiteral("/outside.html"));
    const int windowsBefore = QApplication::topLevelWidgets().size();

    m_dlg->m_browser->page()->runJavaScript(script.replace(QStringLiteral("{outside}"), outside.toString()));

    QTRY_COMPARE_WITH_TIMEOUT(m_desktop.opened.size(), 1, kLoadTimeout);
    QCOMPARE(m_desktop.opened.first(), outside);
    QTest::qWait(kSettleTime);
    QCOMPARE(m_desktop.opened.size(), 1);
    QCOMPARE(m_server.RequestCount(QStringLiteral("/outside.html")), 0);
    QCOMPARE(m_dlg->m_browser->LocationURL(), m_server.Url(QStringLiteral("/opener.html")).toString());
    QCOMPARE(m_dlg->findChildren<QWebEngineView*>().size(), 1);
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
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

void MainDlgTest::onlyHttpHttpsAndFileAreOpened_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("script") << QStringLiteral("javascript:document.title='x'");
    QTest::newRow("data") << QStringLiteral("data:text/html,<p>hi</p>");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/file");
    QTest::newRow("mail") << QStringLiteral("mailto:someone@example.org");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/first.html");
    QTest::newRow("empty") << QString();
}

void MainDlgTest::onlyHttpHttpsAndFileAreOpened()
{
    QFETCH(QString, address);
    QSignalSpy begun(m_dlg->m_browser, &CWebBrowser::DownloadBegin);
    m_dlg->m_browser->Navigate(address);
    QTest::qWait(kSettleTime);
    QCOMPARE(begun.size(), 0);
    QCOMPARE(m_dlg->m_browser->LocationURL(), QString());
    QCOMPARE(Pane(0), QStringLiteral("Ready"));
}

void MainDlgTest::fileAddressesOpen()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile page(folder.filePath(QStringLiteral("local.html")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body>local</body></html>");
    page.close();
    const QUrl address = QUrl::fromLocalFile(page.fileName());

    m_dlg->m_browser->Navigate(address.toString());
    WaitUntilDone();
    QCOMPARE(m_dlg->m_browser->url(), address);
}

void MainDlgTest::homeOpensOnlyWhenKnown()
{
    QSignalSpy begun(m_dlg->m_browser, &CWebBrowser::DownloadBegin);
    m_dlg->NavigateHome();
    QTest::qWait(kSettleTime);
    QCOMPARE(begun.size(), 0);

    HomeUrl() = m_server.Url(QStringLiteral("/second.html")).toString().toStdString();
    m_dlg->NavigateHome();
    WaitUntilDone();
    QCOMPARE(m_dlg->m_browser->LocationURL(), m_server.Url(QStringLiteral("/second.html")).toString());
    QVERIFY(!m_dlg->m_bNavigated);
}

void MainDlgTest::escapeEndsTheWindow()
{
    m_dlg->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->isVisible(), 10000);
}

void MainDlgTest::closeRequestsTakeTheCancelPath()
{
    m_dlg.reset();
    CloseCountingDlg dlg(m_program->SettingsPath(), m_program->Receiver());
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.close());
    QCOMPARE(dlg.closeRequests, 1);
    QVERIFY(!dlg.isVisible());
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
    QVERIFY(!m_dlg->m_wndToolBar);
    QVERIFY(!m_dlg->m_wndStatusBar);
    QVERIFY(!m_dlg->m_bLayoutReady);
    QCOMPARE(m_dlg->centralWidget(), m_dlg->m_browser);
    QTest::qWait(kSettleTime);
    QVERIFY(m_dlg->findChildren<QToolBar*>().isEmpty());
}

} // namespace kestrel

QTEST_MAIN(kestrel::MainDlgTest)
#include "MainDlgTest.moc"
