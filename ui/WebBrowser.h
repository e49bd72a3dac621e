#pragma once

#include "ui/NewWindowLimit.h"
#include "ui/SchemeGate.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

class QMenu;
class QWebEngineCertificateError;
class QWebEngineProfile;

namespace kestrel {

class CBrowserNotice;
class CBurstSummary;
class CDownloadSaver;
class CLessonGate;
class CLocalFileGuard;
class CWebPage;

// The browser in the middle of the window. It offers the few operations the
// program drives it by and reports the engine's events under the names the
// window handles them by. There is no start page: it shows nothing until
// the first navigation. Its browsing data (cookies, cache, logins, form
// data) lives in memory only and ends with it. PDFs show in the engine's
// viewer, a page element may go fullscreen, logins are asked in a small
// dialog, and a renderer that dies is brought back once a minute; notices
// (waiting, a page that keeps dying, a certificate refused) are drawn over
// the page, never loaded. A certificate from an authority the engine does
// not know is taken only when the system's store trusts its chain; every
// other certificate error ends the load, with no way past it. While lesson
// only is on, main pages follow its gate, and new windows open here.
class CWebBrowser : public QWebEngineView {
    Q_OBJECT

public:
    // The Command values of CommandStateChange.
    enum CommandState : long {
        CSC_UPDATECOMMANDS = -1, // the stop command
        CSC_NAVIGATEFORWARD = 1,
        CSC_NAVIGATEBACK = 2,
    };
    // How long a page may take to answer whether it may close.
    static constexpr int kCloseAnswerMs = 3000;
    // A renderer that dies again this soon after the last reload stays down.
    static constexpr qint64 kCrashRepeatMs = 60000;
    static constexpr double kZoomStep = 0.1;

    // `localFolder`: the one folder whose files may be shown; empty for none.
    // `downloadsOn`: downloads are saved into the download folder.
    explicit CWebBrowser(const QString& localFolder = QString(), bool downloadsOn = true, QWidget* parent = nullptr);
    ~CWebBrowser() override;

    void GoBack();
    void GoForward();
    // Opens an address given as text when the scheme gate lets it through.
    void Navigate(const QString& url);
    void Stop();
    void Refresh();
    QString LocationURL() const;

    // Ctrl+plus, Ctrl+minus and Ctrl+0.
    void ZoomIn();
    void ZoomOut();
    void ResetZoom();
    // Leaves an element's fullscreen; false when none is fullscreen.
    bool LeaveFullScreen();
    // While refused, a page element's request for fullscreen is turned down.
    void RefuseFullScreen(bool refuse) { m_bFullScreenRefused = refuse; }
    // An empty page, drawn rather than loaded.
    void ShowEmptyPage();
    CLessonGate& LessonGate() const { return *m_lessonGate; }

    // The notice drawn over the page until the next page starts loading.
    void ShowNotice(const QString& title, const QString& text);
    CBrowserNotice* Notice() const { return m_notice; }
    // The bundle of trusted authorities; the system's unless set.
    void SetCertificateBundle(const QString& path) { m_certificateBundle = path; }

    // Asks the page whether it may close: a page with unsaved work asks the
    // user. CloseAgreed follows unless the user chooses to stay; a page that
    // neither answers nor asks within kCloseAnswerMs counts as agreeing.
    void AskToClose();
    // Ends an open question of the page without waiting for the user.
    void DismissPageQuestions();

    // The context menu for a click on the page, on `linkUrl` when it is a
    // link.
    QMenu* CreateContextMenu(const QUrl& linkUrl);

signals:
    // A page began loading (the engine's loadStarted), not a file download.
    void DownloadBegin();
    void DownloadComplete();
    // Progress in percent of a ProgressMax of 100.
    void ProgressChange(long progress, long progressMax);
    void CommandStateChange(long command, bool enable);
    // A page asked for a new window showing `url`, and the new-window limit
    // let it through.
    void NewWindow2(const QUrl& url);
    void CloseAgreed();
    // A saved download's bytes so far and its size (0 while unknown).
    void DownloadProgress(qint64 received, qint64 total);
    // A short Chinese line for the status bar: a download's outcome, a
    // renderer brought back.
    void StatusLine(const QString& text);
    // A page element entered or left fullscreen.
    void FullScreenChanged(bool on);
    // The page shown is no page the lesson allows: after the rule began or
    // changed, or after the address changed by any route.
    void PageNotAllowed();
    // The context menu's navigation entries, handled as the toolbar's.
    void BackCommand();
    void ForwardCommand();
    void RefreshCommand();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ReportCommandState(QWebEnginePage::WebAction action, CommandState command);
    void RequestNewWindow(const QUrl& url, bool userInitiated);
    void PrintRefusedWindows();
    void CheckShownPage();
    void OnPageClosing();
    void OnRendererGone(QWebEnginePage::RenderProcessTerminationStatus status);
    void OnCertificateError(const QWebEngineCertificateError& error);

    CSchemeGate m_gate;
    QWebEngineProfile* m_profile;
    CLocalFileGuard* m_guard;
    CLessonGate* m_lessonGate;
    CWebPage* m_page;
    CDownloadSaver* m_downloads;
    CBrowserNotice* m_notice;
    CNewWindowLimit m_newWindows;
    QElapsedTimer m_clock;
    CBurstSummary* m_refusedWindows;
    QTimer m_closeAnswer;
    bool m_bAskingToClose = false;
    bool m_bFullScreen = false;
    bool m_bFullScreenRefused = false;
    // When the renderer was last brought back; -1 for never.
    qint64 m_lastRecoveryMs = -1;
    bool m_bReloadingAfterCrash = false;
    QString m_certificateBundle;
    // Why the page now loading had its certificate refused; empty for none.
    QString m_certificateProblem;
};

} // namespace kestrel
