#include "ui/MainDlg.h"

#include "base/GbkText.h"
#include "base/StateFolder.h"
#include "catalogue/HomeUrl.h"
#include "channel/LinkReceiver.h"
#include "config/BrowserSettings.h"
#include "config/ChannelSettings.h"
#include "ui/ButtonPicture.h"
#include "ui/BrowserNotice.h"
#include "ui/ClockText.h"
#include "ui/FindBar.h"
#include "ui/LinkPictures.h"
#include "ui/SchemeGate.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WebBrowser.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTextDocument>
#include <QWebEngineHistory>

#include <iterator>
#include <set>

namespace kestrel {

namespace {

const char kTitle[] = "Larkspur-资源浏览器(V2.01)";
constexpr int kFirstTick = 100;
constexpr int kTick = 1000;
// How long the waiting notice stays short before it says what to check.
constexpr int kWaitingHintMs = 10000;

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

QString RecordText(std::string_view gbk)
{
    return QString::fromStdString(GbkToUtf8(gbk));
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
    , m_receiver(receiver)
    , m_pictures([this](const std::string& url) { OnPictureEnded(url); })
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
    m_bLayoutReady = true;
    ConnectBrowserEvents();
    showMaximized();
    // Without a channel the browser works on without announcements; the
    // receiver has said why on standard output.
    ChannelSettings channel;
    if (ReadChannelSettings(settingsPath, channel)) {
        m_receiver.RequireSignatures(channel.trustedKeysPath, UserStateFolder());
        m_port = channel.port;
        ShowWaitingNotice(false);
        m_waitingHintTimer.setSingleShot(true);
        connect(&m_waitingHintTimer, &QTimer::timeout, this, [this] { ShowWaitingNotice(true); });
        // The notice goes with the first page; so does its hint.
        connect(m_browser, &QWebEngineView::loadStarted, &m_waitingHintTimer, &QTimer::stop);
        m_waitingHintTimer.start(kWaitingHintMs);
        m_receiver.Start(channel.bindAddress, channel.port, this, channel.multicastGroup);
    }
    connect(&m_channelRetryTimer, &QTimer::timeout, this, &CMainDlg::OnChannelRetryTimer);
    if (m_receiver.IsWaiting())
        m_channelRetryTimer.start(CChannelSocket::kRetryIntervalMs);

    m_clockTimer.setSingleShot(true);
    m_mergeTimer.setSingleShot(true);
    connect(&m_clockTimer, &QTimer::timeout, this, &CMainDlg::OnClockTimer);
    connect(&m_mergeTimer, &QTimer::timeout, this, &CMainDlg::OnMergeTimer);
    m_clockTimer.start(kFirstTick);
    m_mergeTimer.start(kFirstTick);
}

CMainDlg::~CMainDlg()
{
    // The receiver outlives the window: it must not report to it any more.
    m_receiver.Close();
}

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

void CMainDlg::ShowWaitingNotice(bool withChecks)
{
    QString text = QStringLiteral("本机正在 UDP 端口 %1 上等待教师机发来的课堂链接，收到后会自动打开。").arg(m_port);
    if (withChecks)
        text += QStringLiteral("\n\n如果一直没有出现，请检查：教师机上的广播程序是否已经启动；"
                               "本机和教师机是否连在同一个网络；两边设置的端口是否都是 %1；"
                               "本机的防火墙是否允许这个 UDP 端口。")
                    .arg(m_port);
    // Only while no page has started: the notice is gone for good after that.
    if (m_browser->url().isEmpty())
        m_browser->ShowNotice(QStringLiteral("正在等待课堂链接"), text);
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

void CMainDlg::MergeReceivedLinks()
{
    ApplyCatalogueEffects(m_catalogue.Merge(m_receiver.Store(), m_bNavigated));
    m_receiver.ReportDrops();
}

void CMainDlg::ApplyCatalogueEffects(const CatalogueEffects& effects)
{
    std::vector<std::string> pictureTests;
    for (const CatalogueEffect& effect : effects) {
        switch (effect.kind) {
        case CatalogueEffect::Kind::HomeUrlSet:
            if (effect.homeWasEmpty) {
                EnableStopAndRefresh();
                NavigateHome();
            }
            break;
        case CatalogueEffect::Kind::LinkAdded:
            pictureTests.emplace_back(FieldText(m_catalogue.Link(effect.link).hotPicture));
            break;
        case CatalogueEffect::Kind::OpenFirstLink:
            OpenFirstLink();
            break;
        case CatalogueEffect::Kind::LinkChanged:
        case CatalogueEffect::Kind::PictureVerdict:
            break;
        }
    }
    if (ChangesLinkButtons(effects))
        RebuildLinkButtons();
    // A test whose answer is known still ends as every other does: later,
    // from the window's own queue.
    for (const std::string& url : pictureTests) {
        if (m_pictures.Request(url))
            QMetaObject::invokeMethod(this, [this, url] { OnPictureEnded(url); }, Qt::QueuedConnection);
    }
}

void CMainDlg::OnPictureEnded(const std::string& url)
{
    ApplyCatalogueEffects(m_catalogue.SettlePictureTest(url, m_pictures.Usable(url)));
    ShowLinkPictures();
    // The pass that waited for its picture tests is over: the next one is
    // due a tick later.
    if (m_bLayoutReady && !m_mergeTimer.isActive() && !m_catalogue.AwaitingPictureTests())
        m_mergeTimer.start(kTick);
}

void CMainDlg::RebuildLinkButtons()
{
    std::set<std::string> inUse;
    for (int k = 1; k <= m_catalogue.LinkCount(); ++k) {
        const LinkRecord& link = m_catalogue.Link(k);
        const int command = ID_LINK_FIRST - 1 + k;
        QAction* button = m_wndToolBar->Button(command);
        if (!button) {
            button = m_wndToolBar->AddButton(command, QIcon(), QString(), QString());
            connect(button, &QAction::triggered, this, [this, command] { OnLinkCommand(command); });
        }
        // Names and captions are the broadcaster's text, never markup or
        // keyboard shortcuts.
        button->setText(RecordText(FieldText(link.name)).replace(QLatin1Char('&'), QLatin1String("&&")));
        button->setToolTip(Qt::convertFromPlainText(RecordText(FieldText(link.caption))));
        // A link whose picture test runs has no pictures to fetch yet: a
        // failed test takes them away.
        if (m_catalogue.AwaitingPictureTest(k))
            continue;
        for (const std::string_view url : {FieldText(link.hotPicture), FieldText(link.coolPicture)}) {
            m_pictures.Request(std::string(url));
            inUse.emplace(url);
        }
    }
    ShowLinkPictures();
    m_pictures.KeepOnly(inUse);
}

void CMainDlg::ShowLinkPictures()
{
    for (int k = 1; k <= m_catalogue.LinkCount(); ++k) {
        QAction* button = m_wndToolBar->Button(ID_LINK_FIRST - 1 + k);
        if (!button)
            continue;
        const LinkRecord& link = m_catalogue.Link(k);
        button->setIcon(m_catalogue.AwaitingPictureTest(k)
                            ? StandInIcon()
                            : LinkIcon(m_pictures, std::string(FieldText(link.hotPicture)),
                                       std::string(FieldText(link.coolPicture))));
    }
}

void CMainDlg::OnLinkCommand(int command)
{
    const int k = command - (ID_LINK_FIRST - 1);
    if (k >= 1 && k <= m_catalogue.LinkCount())
        OpenLink(RecordText(FieldText(m_catalogue.Link(k).url)));
}

void CMainDlg::OpenLink(const QString& url)
{
    m_browser->Navigate(url);
}

void CMainDlg::EnableStopAndRefresh()
{
    m_wndToolBar->EnableButton(ID_NAV_STOP, true);
    m_wndToolBar->EnableButton(ID_NAV_REFRESH, true);
}

void CMainDlg::OpenFirstLink()
{
    m_bNavigated = true;
    OnLinkCommand(ID_LINK_FIRST);
    m_wndToolBar->EnableButton(ID_NAV_REFRESH, true);
}

void CMainDlg::WatchSocket(int socket)
{
    m_socketNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(m_socketNotifier, &QSocketNotifier::activated, this, &CMainDlg::OnSocketMessage);
}

void CMainDlg::UnwatchSocket(int)
{
    if (!m_socketNotifier)
        return;
    // Closing can come from inside a notification; the notifier goes when
    // the event loop is back.
    m_socketNotifier->setEnabled(false);
    m_socketNotifier->deleteLater();
    m_socketNotifier = nullptr;
}

void CMainDlg::OnSocketMessage()
{
    if (m_socketNotifier)
        m_receiver.OnSocketNotify(static_cast<std::uintptr_t>(m_socketNotifier->socket()), CChannelSocket::kReadEvent);
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
    m_bNavigated = true;
    m_browser->GoBack();
}

void CMainDlg::OnForward()
{
    m_bNavigated = true;
    m_browser->GoForward();
}

void CMainDlg::OnStop()
{
    m_browser->Stop();
}

void CMainDlg::OnRefresh()
{
    m_bNavigated = true;
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
    // One print at a time: the engine prints into the printer after the dialog.
    if (m_printer)
        return;
    m_printer = std::make_unique<QPrinter>();
    QPrintDialog dialog(m_printer.get(), this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() != QDialog::Accepted) {
        m_printer.reset();
        return;
    }
    connect(m_browser, &QWebEngineView::printFinished, this, [this] { m_printer.reset(); }, Qt::SingleShotConnection);
    m_browser->print(m_printer.get());
}

void CMainDlg::EndWithoutAsking()
{
    m_browser->DismissPageQuestions();
    EndNow();
}

void CMainDlg::EndNow()
{
    // Everything the window holds open is let go here, before it closes.
    m_receiver.Close();
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
    m_wndStatusBar->SetPaneText(1, QString::asprintf("%lu/%lu", static_cast<unsigned long>(progress),
                                                     static_cast<unsigned long>(progressMax)));
}

void CMainDlg::OnDownloadProgress(qint64 received, qint64 total)
{
    // As page loads show theirs; an unannounced size counts as what came.
    const qint64 max = total > 0 ? total : received;
    m_wndStatusBar->SetPaneText(1, QString::asprintf("%lu/%lu", static_cast<unsigned long>(received),
                                                     static_cast<unsigned long>(max)));
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
    switch (command) {
    case CWebBrowser::CSC_NAVIGATEFORWARD:
        m_wndToolBar->EnableButton(ID_NAV_FORWARD, enable);
        break;
    case CWebBrowser::CSC_NAVIGATEBACK:
        m_wndToolBar->EnableButton(ID_NAV_BACK, enable);
        break;
    case CWebBrowser::CSC_UPDATECOMMANDS:
        m_wndToolBar->EnableButton(ID_NAV_STOP, enable);
        break;
    default:
        break;
    }
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
    MergeReceivedLinks();
    // While the pass's picture tests run, the pass is not over: the last
    // verdict arms the next one.
    if (!m_catalogue.AwaitingPictureTests())
        m_mergeTimer.start(kTick);
}

void CMainDlg::OnChannelRetryTimer()
{
    m_receiver.Retry();
    if (!m_receiver.IsWaiting())
        m_channelRetryTimer.stop();
}

} // namespace kestrel
