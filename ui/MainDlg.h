#pragma once

#include "catalogue/LinkCatalogue.h"
#include "channel/SocketOwner.h"
#include "ui/LinkPictures.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

class QPrinter;
class QSocketNotifier;

namespace kestrel {

struct BrowserSettings;
class CFindBar;
class CLinkReceiver;
class CStatusBar;
class CToolBar;
class CWebBrowser;

// The program's only window: the toolbar on top, the browser in the middle,
// the three-pane status bar at the bottom. It keeps the clock, runs the
// catalogue merge every second, shows what the merge reports, reads the
// channel through the link receiver and ends the program on Escape or any
// close request, once the page agrees. Nothing in it waits for the network:
// pictures arrive in the background and are shown as they come. Until the
// first page starts it says what it waits for; the keys of every browser
// zoom, reload, go back and forward, find and print.
class CMainDlg : public QMainWindow, public CSocketOwner {
    Q_OBJECT

public:
    // Command numbers of the navigation buttons.
    enum Command {
        ID_NAV_BACK = 32774,
        ID_NAV_FORWARD = 32775,
        ID_NAV_STOP = 32776,
        ID_NAV_REFRESH = 32777,
        // Link k's button has command ID_LINK_FIRST - 1 + k.
        ID_LINK_FIRST = 401,
    };

    // Builds and shows the window and starts the receiver with the window as
    // its owner, on the channel the settings file at settingsPath names.
    // Without a settings path (the program file could not be found) there
    // is no channel: the window then stays bare, the browser alone without
    // bars, timers or receiver.
    CMainDlg(const std::string& settingsPath, CLinkReceiver& receiver, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // Opens the process-wide home URL; nothing while it is empty.
    void NavigateHome();
    // One pass bringing the received link records into the catalogue, shown
    // at once; its picture tests end later.
    void MergeReceivedLinks();
    // Gives every link its button: appends buttons for new links, and sets
    // every link's label, tool tip and pictures afresh, asking for the
    // pictures that are not fresh; each shows when it arrives.
    void RebuildLinkButtons();
    const CLinkCatalogue& Catalogue() const { return m_catalogue; }
    // Another start of the program asked for this window: restore it when
    // minimised, otherwise keep its size, and bring it to the front.
    void ComeForward();

    CWebBrowser* const m_browser;
    CToolBar* m_wndToolBar = nullptr;     // none in the bare window
    CStatusBar* m_wndStatusBar = nullptr; // none in the bare window
    CFindBar* m_findBar = nullptr;
    // Set once the user went back, forward or refreshed: from then on new
    // links no longer open by themselves.
    bool m_bNavigated = false;
    // The bars exist and lay the window out.
    bool m_bLayoutReady = false;

public slots:
    // Navigation commands.
    void OnBack();
    void OnForward();
    void OnStop();
    void OnRefresh();
    // The one way the window ends: Escape, when it has nothing else to
    // close, and every close request come here.
    // A page with unsaved work is asked first and may keep the window open.
    void OnCancel();
    // Ends the window without asking the page (a session logout, SIGTERM).
    void EndWithoutAsking();
    // Escape: leaves an element's fullscreen, else closes the find bar,
    // else takes the Cancel path; an open dialog closes on its own Escape.
    void OnEscape();
    // Ctrl+F and Ctrl+P.
    void OnFind();
    void OnPrint();
    // A link button: opens link k of command ID_LINK_FIRST - 1 + k.
    void OnLinkCommand(int command);
    void OpenLink(const QString& url);
    // A datagram waits on the channel.
    void OnSocketMessage();

    // Browser events.
    void OnDownloadBegin();
    void OnDownloadComplete();
    void OnProgressChange(long progress, long progressMax);
    void OnCommandStateChange(long command, bool enable);
    void OnNewWindow2(const QUrl& url);
    void OnDownloadProgress(qint64 received, qint64 total);
    void OnStatusLine(const QString& text);
    void OnFullScreenChanged(bool on);

protected:
    void closeEvent(QCloseEvent* event) override;
    virtual void OnClose();

    // What the catalogue's effects do to the window.
    void EnableStopAndRefresh();
    void OpenFirstLink();

    // The channel socket's readiness, watched on the window's own thread.
    void WatchSocket(int socket) override;
    void UnwatchSocket(int socket) override;

private:
    CMainDlg(const std::string& settingsPath, const BrowserSettings& browserSettings, CLinkReceiver& receiver,
             QWidget* parent);
    void EndNow();
    void CreateBars();
    void CreateShortcuts();
    // The notice until the first page starts; `withChecks` adds what to check.
    void ShowWaitingNotice(bool withChecks);
    void ConnectBrowserEvents();
    void OnClockTimer();
    void OnMergeTimer();
    void OnChannelRetryTimer();
    void ApplyCatalogueEffects(const CatalogueEffects& effects);
    // A picture fetch ended: a picture test gets its verdict, and the
    // buttons showing that picture get it.
    void OnPictureEnded(const std::string& url);
    void ShowLinkPictures();

    CLinkReceiver& m_receiver;
    QSocketNotifier* m_socketNotifier = nullptr;
    CLinkCatalogue m_catalogue;
    CLinkPictures m_pictures;
    QTimer m_clockTimer;
    QTimer m_mergeTimer;
    // Runs only while the channel waits for its card or its group.
    QTimer m_channelRetryTimer;
    QTimer m_waitingHintTimer;
    int m_port = 0;
    std::unique_ptr<QPrinter> m_printer;
    // "新窗口=本窗口": new windows open in the window's own browser.
    bool m_bNewWindowsInside = false;
    bool m_bEnding = false;
};

} // namespace kestrel
