#pragma once

#include <QMainWindow>

namespace kestrel {

struct BrowserSettings;
class CChannelPump;
class CClassroomLinks;
class CClassroomModeView;
class CFindBar;
class CLinkReceiver;
class CPagePrinter;
class CStatusBar;
class CToolBar;
class CWebBrowser;

// The program's only window: the toolbar on top, the browser in the middle,
// the three-pane status bar at the bottom. It keeps the clock, shows the
// classroom's links as their keeper reports them, hands the channel's
// datagrams to its pump and ends the program on Escape or any close
// request, once the page agrees; while the classroom is paused, it does
// not end that way. Until the first page starts it says what it waits
// for; the keys of every browser zoom, reload, go back and forward, find
// and print. The classroom's mode acts on it through its mode view.
class CMainDlg : public QMainWindow {
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

    // Builds and shows the window and opens the channel the settings file at
    // settingsPath names, for the receiver. Without a settings path (the
    // program file could not be found) there is no channel: the window then
    // stays bare, the browser alone without bars, timers or receiver.
    // The channel closes with the window: the receiver outlives it.
    CMainDlg(const std::string& settingsPath, CLinkReceiver& receiver, QWidget* parent = nullptr);

    // Opens the process-wide home URL; nothing while it is empty.
    void NavigateHome();
    // Another start of the program asked for this window: restore it when
    // minimised, otherwise keep its size, and bring it to the front.
    void ComeForward();

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
    // Ends the window without asking the page (a session logout, SIGTERM),
    // paused or not.
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
    // A datagram waits on the channel; a state it carries applies at once.
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

private:
    CMainDlg(const std::string& settingsPath, const BrowserSettings& browserSettings, CLinkReceiver& receiver,
             QWidget* parent);
    void EndNow();
    void CreateBars();
    void CreateShortcuts();
    void ConnectBrowserEvents();
    void ConnectClassroomLinks();
    // Opens the channel the settings name and arms the first merge pass;
    // gives the channel's port, 0 when there is none.
    long HearChannel(const std::string& settingsPath);
    // Timer 2: the next merge pass of the links.
    void OnMergeTimer();

    // What the links' keeper reports.
    void OnHomeToOpen();
    void OnLinkToOpen(const QString& url);

    // The channel and the links come first: the first merge pass is armed
    // before the browser starts the web engine, so that the engine's start
    // runs within the pass's tenth of a second instead of before it.
    CChannelPump* const m_pump;
    CClassroomLinks* const m_links;
    // The channel's port, 0 when there is none.
    const long m_channelPort;
    CWebBrowser* const m_browser;
    CToolBar* m_wndToolBar = nullptr;     // none in the bare window
    CStatusBar* m_wndStatusBar = nullptr; // none in the bare window
    CFindBar* m_findBar = nullptr;
    CPagePrinter* const m_printer;
    CClassroomModeView* m_modeView = nullptr; // none in the bare window
    // "新窗口=本窗口": new windows open in the window's own browser.
    bool m_bNewWindowsInside = false;
    bool m_bEnding = false;
};

} // namespace kestrel
