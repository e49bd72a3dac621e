#include "ui/MainDlg.h"

#include "base/GbkText.h"
#include "catalogue/HomeUrl.h"
#include "config/BrowserSettings.h"
#include "ui/ApplicationIcon.h"
#include "ui/ChannelPump.h"
#include "ui/ClassroomLinks.h"
#include "ui/ClassroomModeView.h"
#include "ui/FindBar.h"
#include "ui/PagePrinter.h"
#include "ui/RoomReports.h"
#include "ui/SchemeGate.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WaitingNotice.h"
#include "ui/WebBrowser.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QScreen>
#include <QShortcut>
#include <QWebEngineHistory>

#include <functional>

namespace kestrel {

CMainDlg::CMainDlg(const std::string& settingsPath, CLinkReceiver& receiver, QWidget* parent)
    : CMainDlg(settingsPath, ReadBrowserSettings(settingsPath), receiver, parent)
{
}

CMainDlg::CMainDlg(const std::string& settingsPath, const BrowserSettings& browserSettings, CLinkReceiver& receiver,
                   QWidget* parent)
    : QMainWindow(parent)
    , m_pump(new CChannelPump(receiver, this))
    , m_links(new CClassroomLinks(receiver, this))
    , m_channelPort(HearChannel(settingsPath))
    , m_browser(new CWebBrowser(QString::fromStdString(browserSettings.localFolder), browserSettings.downloadsOn, this))
    , m_printer(new CPagePrinter(m_browser, this))
    , m_bNewWindowsInside(browserSettings.newWindowsInside)
{
    setCentralWidget(m_browser);
    // Start the browser's page now, still empty: its drawing surface would
    // otherwise arrive after the window is shown and make the window be
    // created anew, losing its maximised state. Reading the history starts
    // the page.
    m_browser->history()->count();
    setWindowIcon(ApplicationIcon());
    setWindowTitle(QStringLiteral("Larkspur-资源浏览器(V2.01)"));
    // The size to return to from maximised.
    if (const QScreen* screen = this->screen())
        resize(screen->availableSize() * 2 / 3);

    CreateShortcuts();
    connect(m_browser, &CWebBrowser::CloseAgreed, this, &CMainDlg::EndNow);
    connect(m_browser, &CWebBrowser::BackCommand, this, &CMainDlg::OnBack);
    connect(m_browser, &CWebBrowser::ForwardCommand, this, &CMainDlg::OnForward);
    connect(m_browser, &CWebBrowser::RefreshCommand, this, &CMainDlg::OnRefresh);

    if (settingsPath.empty()) {
        show();
        return;
    }

    CreateBars();
    m_wndStatusBar->SetPaneText(0, QStringLiteral("Ready"));
    ConnectBrowserEvents();
    showMaximized();
    // Without a channel the browser works on without announcements.
    if (m_channelPort != 0)
        new CWaitingNotice(m_browser, m_channelPort, this);
    ConnectClassroomLinks();
    m_modeView = new CClassroomModeView(*this, *m_browser, *m_wndStatusBar, *m_links);
    new CRoomReports(receiver, *m_links, *m_browser, browserSettings.reportPage, this);
    m_wndStatusBar->StartClock();
}

long CMainDlg::HearChannel(const std::string& settingsPath)
{
    // Without a settings file there is no channel.
    if (settingsPath.empty())
        return 0;
    connect(m_pump, &CChannelPump::SocketMessage, this, &CMainDlg::OnSocketMessage);
    const long port = m_pump->Open(settingsPath);
    m_links->Start();
    return port;
}

void CMainDlg::CreateBars()
{
    m_wndStatusBar = new CStatusBar(this);
    setStatusBar(m_wndStatusBar);
    m_wndToolBar = new CToolBar(this);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    const QList<QAction*> navigation = m_wndToolBar->AddNavigationButtons(ID_NAV_BACK);
    connect(navigation[0], &QAction::triggered, this, &CMainDlg::OnBack);
    connect(navigation[1], &QAction::triggered, this, &CMainDlg::OnForward);
    connect(navigation[2], &QAction::triggered, this, &CMainDlg::OnStop);
    connect(navigation[3], &QAction::triggered, this, &CMainDlg::OnRefresh);
}

void CMainDlg::CreateShortcuts()
{
    const auto bind = [this](const QKeySequence& keys, auto handler) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, handler);
    };
    // Keys act as the buttons do, and only while the button could be pressed.
    const auto asButton = [this](Command command, void (CMainDlg::*handler)()) {
        return [this, command, handler] {
            if (m_wndToolBar && m_wndToolBar->IsButtonEnabled(command))
                (this->*handler)();
        };
    };
    bind(QKeySequence(Qt::Key_Escape), &CMainDlg::OnEscape);
    bind(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { m_browser->ZoomIn(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { m_browser->ZoomIn(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { m_browser->ZoomOut(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { m_browser->ResetZoom(); });
    bind(QKeySequence(Qt::Key_F5), asButton(ID_NAV_REFRESH, &CMainDlg::OnRefresh));
    bind(QKeySequence(Qt::CTRL | Qt::Key_R), asButton(ID_NAV_REFRESH, &CMainDlg::OnRefresh));
    bind(QKeySequence(Qt::ALT | Qt::Key_Left), asButton(ID_NAV_BACK, &CMainDlg::OnBack));
    bind(QKeySequence(Qt::ALT | Qt::Key_Right), asButton(ID_NAV_FORWARD, &CMainDlg::OnForward));
    bind(QKeySequence(Qt::CTRL | Qt::Key_F), &CMainDlg::OnFind);
    bind(QKeySequence(Qt::CTRL | Qt::Key_P), &CMainDlg::OnPrint);
}

void CMainDlg::ConnectBrowserEvents()
{
    connect(m_browser, &CWebBrowser::DownloadBegin, this, &CMainDlg::OnDownloadBegin);
    connect(m_browser, &CWebBrowser::DownloadComplete, this, &CMainDlg::OnDownloadComplete);
    connect(m_browser, &CWebBrowser::ProgressChange, this, &CMainDlg::OnProgressChange);
    connect(m_browser, &CWebBrowser::CommandStateChange, this, &CMainDlg::OnCommandStateChange);
    connect(m_browser, &CWebBrowser::NewWindow2, this, &CMainDlg::OnNewWindow2);
    connect(m_browser, &CWebBrowser::DownloadProgress, this, &CMainDlg::OnDownloadProgress);
    connect(m_browser, &CWebBrowser::StatusLine, this, &CMainDlg::OnStatusLine);
    connect(m_browser, &CWebBrowser::FullScreenChanged, this, &CMainDlg::OnFullScreenChanged);
    m_findBar = new CFindBar(m_browser, this);
    addToolBar(Qt::BottomToolBarArea, m_findBar);
}

void CMainDlg::NavigateHome()
{
    if (!HomeUrl().empty())
        m_browser->Navigate(QString::fromStdString(GbkToUtf8(HomeUrl())));
}

void CMainDlg::ConnectClassroomLinks()
{
    connect(m_links, &CClassroomLinks::MergeDue, this, &CMainDlg::OnMergeTimer);
    connect(m_links, &CClassroomLinks::HomeToOpen, this, &CMainDlg::OnHomeToOpen);
    connect(m_links, &CClassroomLinks::LinkToOpen, this, &CMainDlg::OnLinkToOpen);
    connect(m_links, &CClassroomLinks::ButtonsChanged, m_wndToolBar,
            std::bind(&CToolBar::ShowLinkButtons, m_wndToolBar, ID_LINK_FIRST, std::placeholders::_1));
    connect(m_links, &CClassroomLinks::PicturesReady, m_wndToolBar,
            std::bind(&CToolBar::ShowLinkIcons, m_wndToolBar, ID_LINK_FIRST, std::placeholders::_1));
    connect(m_wndToolBar, &CToolBar::LinkCommand, this, &CMainDlg::OnLinkCommand);
}

void CMainDlg::OnHomeToOpen()
{
    m_wndToolBar->EnableButton(ID_NAV_STOP, true);
    m_wndToolBar->EnableButton(ID_NAV_REFRESH, true);
    NavigateHome();
}

void CMainDlg::OnLinkToOpen(const QString& url)
{
    OpenLink(url);
    m_wndToolBar->EnableButton(ID_NAV_REFRESH, true);
}

void CMainDlg::OnLinkCommand(int command)
{
    const int k = command - (ID_LINK_FIRST - 1);
    if (k >= 1 && k <= m_links->LinkCount())
        OpenLink(m_links->LinkUrl(k));
}

void CMainDlg::OpenLink(const QString& url)
{
    m_browser->Navigate(url);
}

void CMainDlg::OnSocketMessage()
{
    m_pump->ReadDatagram();
    m_links->TakeAcceptedState();
}

void CMainDlg::ComeForward()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CMainDlg::OnBack()
{
    m_links->UserNavigated();
    m_browser->GoBack();
}

void CMainDlg::OnForward()
{
    m_links->UserNavigated();
    m_browser->GoForward();
}

void CMainDlg::OnStop()
{
    m_browser->Stop();
}

void CMainDlg::OnRefresh()
{
    m_links->UserNavigated();
    m_browser->Refresh();
}

void CMainDlg::OnCancel()
{
    if (m_modeView && m_modeView->Paused())
        return;
    // An empty browser holds no work: it ends at once, as it always did.
    if (m_bEnding || m_browser->url().isEmpty()) {
        EndNow();
        return;
    }
    m_browser->AskToClose();
}

void CMainDlg::OnEscape()
{
    if (m_browser->LeaveFullScreen())
        return;
    if (m_findBar && m_findBar->isVisible()) {
        m_findBar->Close();
        return;
    }
    // An open dialog (login, print, upload, the leave question) takes
    // Escape itself, as its cancel button, before the window sees it.
    OnCancel();
}

void CMainDlg::OnFind()
{
    if (m_findBar)
        m_findBar->Open();
}

void CMainDlg::OnPrint()
{
    m_printer->Print();
}

void CMainDlg::EndWithoutAsking()
{
    m_browser->DismissPageQuestions();
    EndNow();
}

void CMainDlg::EndNow()
{
    // Everything the window holds open is let go here, before it closes.
    m_pump->Close();
    m_bEnding = true;
    close();
}

void CMainDlg::OnDownloadBegin()
{
    m_wndStatusBar->SetPaneText(0, QStringLiteral("Downloading"));
    m_wndToolBar->EnableButton(ID_NAV_STOP, true);
}

void CMainDlg::OnDownloadComplete()
{
    m_wndStatusBar->SetPaneText(0, QStringLiteral("Done"));
    m_wndToolBar->EnableButton(ID_NAV_STOP, false);
}

void CMainDlg::OnProgressChange(long progress, long progressMax)
{
    if (progress < 0 || progressMax <= 0)
        return;
    m_wndStatusBar->SetPaneText(0, m_browser->LocationURL());
    m_wndStatusBar->SetProgress(progress, progressMax);
}

void CMainDlg::OnDownloadProgress(qint64 received, qint64 total)
{
    // As page loads show theirs; an unannounced size counts as what came.
    m_wndStatusBar->SetProgress(received, total > 0 ? total : received);
}

void CMainDlg::OnStatusLine(const QString& text)
{
    m_wndStatusBar->SetPaneText(0, text);
}

void CMainDlg::OnFullScreenChanged(bool on)
{
    for (QWidget* bar : {static_cast<QWidget*>(m_wndToolBar), static_cast<QWidget*>(m_wndStatusBar)})
        bar->setVisible(!on);
    if (on) {
        m_findBar->hide();
        showFullScreen();
    } else {
        showMaximized();
    }
}

void CMainDlg::OnCommandStateChange(long command, bool enable)
{
    if (command == CWebBrowser::CSC_NAVIGATEFORWARD)
        m_wndToolBar->EnableButton(ID_NAV_FORWARD, enable);
    else if (command == CWebBrowser::CSC_NAVIGATEBACK)
        m_wndToolBar->EnableButton(ID_NAV_BACK, enable);
    else if (command == CWebBrowser::CSC_UPDATECOMMANDS)
        m_wndToolBar->EnableButton(ID_NAV_STOP, enable);
}

void CMainDlg::OnNewWindow2(const QUrl& url)
{
    // The program has one window: a new one shows either in its own browser,
    // through the same gate as every navigation, or in the desktop's.
    if (m_bNewWindowsInside)
        m_browser->Navigate(url.toString());
    else if (MayOpenOutside(url))
        QDesktopServices::openUrl(url);
}

void CMainDlg::closeEvent(QCloseEvent* event)
{
    if (!m_bEnding)
        OnCancel();
    event->setAccepted(m_bEnding);
}

void CMainDlg::OnMergeTimer()
{
    m_links->MergeReceivedLinks();
}

} // namespace kestrel
