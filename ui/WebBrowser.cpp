#include "ui/WebBrowser.h"

#include "ui/SchemeGate.h"

#include <QAction>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace kestrel {

CWebBrowser::CWebBrowser(QWidget* parent)
    : QWebEngineView(parent)
{
    setObjectName(QStringLiteral("browser"));
    // A page must never hand an address of an unknown kind to another program.
    page()->profile()->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    connect(this, &QWebEngineView::loadStarted, this, &CWebBrowser::DownloadBegin);
    connect(this, &QWebEngineView::loadFinished, this, &CWebBrowser::DownloadComplete);
    connect(this, &QWebEngineView::loadProgress, this,
            [this](int progress) { emit ProgressChange(progress, 100); });
    connect(page(), &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { emit NewWindow2(request.requestedUrl()); });
    ReportCommandState(QWebEnginePage::Back, CSC_NAVIGATEBACK);
    ReportCommandState(QWebEnginePage::Forward, CSC_NAVIGATEFORWARD);
    ReportCommandState(QWebEnginePage::Stop, CSC_UPDATECOMMANDS);
}

void CWebBrowser::GoBack()
{
    back();
}

void CWebBrowser::GoForward()
{
    forward();
}

void CWebBrowser::Navigate(const QString& url)
{
    const QUrl target(url, QUrl::TolerantMode);
    if (MayNavigate(target))
        load(target);
}

void CWebBrowser::Stop()
{
    stop();
}

void CWebBrowser::Refresh()
{
    reload();
}

QString CWebBrowser::LocationURL() const
{
    return url().toString();
}

void CWebBrowser::ReportCommandState(QWebEnginePage::WebAction action, CommandState command)
{
    const QAction* engineAction = pageAction(action);
    connect(engineAction, &QAction::changed, this,
            [this, engineAction, command] { emit CommandStateChange(command, engineAction->isEnabled()); });
}

} // namespace kestrel
