#pragma once

#include "ui/NewWindowLimit.h"
#include "ui/SchemeGate.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

class QMenu;
class QWebEngineProfile;

namespace kestrel {

class CLocalFileGuard;
class CWebPage;

// The browser in the middle of the window. It offers the few operations the
// program drives it by and reports the engine's events under the names the
// window handles them by. There is no start page: it shows nothing until
// the first navigation. Its browsing data (cookies, cache, logins, form
// data) lives in memory only and ends with it.
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

    // `localFolder`: the one folder whose files may be shown; empty for none.
    explicit CWebBrowser(const QString& localFolder = QString(), QWidget* parent = nullptr);
    ~CWebBrowser() override;

    void GoBack();
    void GoForward();
    // Opens an address given as text when the scheme gate lets it through.
    void Navigate(const QString& url);
    void Stop();
    void Refresh();
    QString LocationURL() const;

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
    void DownloadBegin();
    void DownloadComplete();
    // Progress in percent of a ProgressMax of 100.
    void ProgressChange(long progress, long progressMax);
    void CommandStateChange(long command, bool enable);
    // A page asked for a new window showing `url`, and the new-window limit
    // let it through.
    void NewWindow2(const QUrl& url);
    void CloseAgreed();
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
    void OnPageClosing();

    CSchemeGate m_gate;
    QWebEngineProfile* m_profile;
    CLocalFileGuard* m_guard;
    CWebPage* m_page;
    CNewWindowLimit m_newWindows;
    QElapsedTimer m_clock;
    QTimer m_refusalSummary;
    qint64 m_firstUnreportedMs = 0;
    QTimer m_closeAnswer;
    bool m_bAskingToClose = false;
};

} // namespace kestrel
