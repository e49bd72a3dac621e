#include "ui/MainDlg.h"

#include "base/GbkText.h"
#include "catalogue/HomeUrl.h"
#include "config/BrowserSettings.h"
#include "config/ChannelSettings.h"
#include "ui/ChannelPump.h"
#include "ui/ClassroomLinks.h"
#include "ui/ClockText.h"
#include "ui/FindBar.h"
#include "ui/PagePrinter.h"
#include "ui/SchemeGate.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/ToolbarPicture.h"
#include "ui/WaitingNotice.h"
#include "ui/WebBrowser.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QScreen>
#include <QShortcut>
#include <QWebEngineHistory>

#include <iterator>

namespace kestrel {

namespace {

const char kTitle[] = "Larkspur-资源浏览器(V2.01)";
constexpr int kFirstTick = 100;
constexpr int kTick = 1000;

struct NavigationButton {
    CMainDlg::Command command;
    const char* caption;
    void (CMainDlg::*handler)();
};

// In the order of the pictures in the navigation strips.
const NavigationButton kNavigationButtons[] = {
    {CMainDlg::ID_NAV_BACK, "后退", &CMainDlg::OnBack},
    {CMainDlg::ID_NAV_FORWARD, "前进", &CMainDlg::OnForward},
    {CMainDlg::ID_NAV_STOP, "停止", &CMainDlg::OnStop},
    {CMainDlg::ID_NAV_REFRESH, "刷新", &CMainDlg::OnRefresh},
};

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kestrel/kestrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

CMainDlg::CMainDlg(const std::string& settingsPath, CLinkReceiver& receiver, QWidget* parent)
    : CMainDlg(settingsPath, ReadBrowserSettings(settingsPath), receiver, parent)
{
}

CMainDlg::CMainDlg(const std::string& settingsPath, const BrowserSettings& browserSettings, CLinkReceiver& receiver,
                   QWidget* parent)
    : QMainWindow(parent)
    , m_browser(new CWebBrowser(QString::fromStdString(browserSettings.localFolder), browserSettings.downloadsOn, this))
    , m_pump(new CChannelPump(receiver, this))
    , m_links(new CClassroomLinks(receiver, this))
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
    setWindowTitle(QString::fromUtf8(kTitle));
    // The size to return to from maximised.
    if (const QScreen* screen = this->screen())
        resize(screen->availableSize() * 2 / 3);

    CreateShortcuts();
    connect(m_browser, &CWebBrowser::CloseAgreed, this, &CMainDlg::EndNow);
    connect(m_browser, &CWebBrowser::BackCommand, this, &CMainDlg::OnBack);
    connect(m_browser, &CWebBrowser::ForwardCommand, this, &CMainDlg::OnForward);
    connect(m_browser, &CWebBrowser::RefreshCommand, this, &CMainDlg::OnRefresh);

    // Without a settings file there is no channel.
    if (settingsPath.empty()) {
        show();
        return;
    }

    CreateBars();
    for (const NavigationButton& button : kNavigationButtons)
        m_wndToolBar->EnableButton(button.command, false);
    m_wndStatusBar->SetPaneText(0, QStringLiteral("Ready"));
    ConnectBrowserEvents();
    showMaximized();
    OpenChannel(settingsPath);
    ConnectClassroomLinks();

    m_clockTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &CMainDlg::OnClockTimer);
    m_clockTimer.start(kFirstTick);
    m_links->Start();
}

// The pump closes the channel as it goes: the receiver outlives the window.
CMainDlg::~CMainDlg() = default;

void CMainDlg::CreateBars()
{
    m_wndStatusBar = new CStatusBar(this);
    setStatusBar(m_wndStatusBar);

    m_wndToolBar = new CToolBar(this);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    const QList<QPixmap> normal = CutPictureStrip(QImage(QStringLiteral(":/kestrel/navigation-normal.bmp")));
    const QList<QPixmap> hot = CutPictureStrip(QImage(QStringLiteral(":/kestrel/navigation-hot.bmp")));
    for (int i = 0; i < int(std::size(kNavigationButtons)); ++i) {
        const NavigationButton& button = kNavigationButtons[i];
        const QString caption = QString::fromUtf8(button.caption);
        const QIcon icon = ButtonIcon(normal.value(i), hot.value(i));
        QAction* action = m_wndToolBar->AddButton(button.command, icon, caption, caption);
        connect(action, &QAction::triggered, this, button.handler);
    }
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

void CMainDlg::OpenChannel(const std::string& settingsPath)
{
    // Without a channel the browser works on without announcements; the
    // receiver has said why on standard output.
    ChannelSettings channel;
    if (!ReadChannelSettings(settingsPath, channel))
        return;
    new CWaitingNotice(m_browser, channel.port, this);
    connect(m_pump, &CChannelPump::SocketMessage, this, &CMainDlg::OnSocketMessage);
    m_pump->Open(channel);
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
    const std::string home = HomeUrl();
    if (!home.empty())
        m_browser->Navigate(QString::fromStdString(GbkToUtf8(home)));
}

void CMainDlg::ConnectClassroomLinks()
{
    connect(m_links, &CClassroomLinks::MergeDue, this, &CMainDlg::OnMergeTimer);
    connect(m_links, &CClassroomLinks::HomeToOpen, this, &CMainDlg::OnHomeToOpen);
    connect(m_links, &CClassroomLinks::LinkToOpen, this, &CMainDlg::OnLinkToOpen);
    connect(m_links, &CClassroomLinks::ButtonsChanged, this,
            [this](const QList<LinkButtonFace>& faces) { m_wndToolBar->ShowLinkButtons(ID_LINK_FIRST, faces); });
    connect(m_links, &CClassroomLinks::PicturesReady, this,
            [this](const QList<QIcon>& icons) { m_wndToolBar->ShowLinkIcons(ID_LINK_FIRST, icons); });
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
    // Other command states have no button (EnableButton ignores command 0).
    m_wndToolBar->EnableButton(command == CWebBrowser::CSC_NAVIGATEFORWARD ? ID_NAV_FORWARD
                               : command == CWebBrowser::CSC_NAVIGATEBACK  ? ID_NAV_BACK
                               : command == CWebBrowser::CSC_UPDATECOMMANDS ? ID_NAV_STOP
                                                                            : 0,
                               enable);
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
        OnClose();
    event->setAccepted(m_bEnding);
}

void CMainDlg::OnClose()
{
    OnCancel();
}

void CMainDlg::OnClockTimer()
{
    m_wndStatusBar->SetPaneText(2, ClockText(QDateTime::currentDateTime()));
    m_clockTimer.start(kTick);
}

void CMainDlg::OnMergeTimer()
{
    m_links->MergeReceivedLinks();
}

} // namespace kestrel
