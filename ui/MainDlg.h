#pragma once

#include <QMainWindow>
#include <QTimer>

namespace kestrel {

class CStatusBar;
class CToolBar;
class CWebBrowser;

// The program's only window: the toolbar on top, the browser in the middle,
// the three-pane status bar at the bottom. It keeps the clock, runs the
// catalogue merge every second and ends the program on Escape or any close
// request.
class CMainDlg : public QMainWindow {
    Q_OBJECT

public:
    // Command numbers of the navigation buttons.
    enum Command {
        ID_NAV_BACK = 32774,
        ID_NAV_FORWARD = 32775,
        ID_NAV_STOP = 32776,
        ID_NAV_REFRESH = 32777,
    };

    // Builds and shows the window. Without a program path there are no
    // settings and no channel: the window then stays bare, the browser alone
    // without bars or timers.
    explicit CMainDlg(const QString& programPath, QWidget* parent = nullptr);

    // Opens the process-wide home URL; nothing while it is empty.
    void NavigateHome();
    // One pass bringing the received link records into the catalogue.
    void MergeReceivedLinks();
    // Another start of the program asked for this window: restore it when
    // minimised, otherwise keep its size, and bring it to the front.
    void ComeForward();

    CWebBrowser* const m_browser;
    CToolBar* m_wndToolBar = nullptr;     // none in the bare window
    CStatusBar* m_wndStatusBar = nullptr; // none in the bare window
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
    // The one way the window ends: Escape and every close request come here.
    void OnCancel();

    // Browser events.
    void OnDownloadBegin();
    void OnDownloadComplete();
    void OnProgressChange(long progress, long progressMax);
    void OnCommandStateChange(long command, bool enable);
    void OnNewWindow2(const QUrl& url);

protected:
    void closeEvent(QCloseEvent* event) override;
    virtual void OnClose();

private:
    void CreateBars();
    void ConnectBrowserEvents();
    void OnClockTimer();
    void OnMergeTimer();

    QTimer m_clockTimer;
    QTimer m_mergeTimer;
    bool m_bEnding = false;
};

} // namespace kestrel
