#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

namespace kestrel {

// The browser in the middle of the window. It offers the few operations the
// program drives it by and reports the engine's events under the names the
// window handles them by. There is no start page: it shows nothing until
// the first navigation.
class CWebBrowser : public QWebEngineView {
    Q_OBJECT

public:
    // The Command values of CommandStateChange.
    enum CommandState : long {
        CSC_UPDATECOMMANDS = -1, // the stop command
        CSC_NAVIGATEFORWARD = 1,
        CSC_NAVIGATEBACK = 2,
    };

    explicit CWebBrowser(QWidget* parent = nullptr);

    void GoBack();
    void GoForward();
    // Opens an address given as text; only http, https and file addresses
    // are opened.
    void Navigate(const QString& url);
    void Stop();
    void Refresh();
    QString LocationURL() const;

signals:
    void DownloadBegin();
    void DownloadComplete();
    // Progress in percent of a ProgressMax of 100.
    void ProgressChange(long progress, long progressMax);
    void CommandStateChange(long command, bool enable);
    // A page asked for a new window showing `url`.
    void NewWindow2(const QUrl& url);

private:
    void ReportCommandState(QWebEnginePage::WebAction action, CommandState command);
};

} // namespace kestrel
