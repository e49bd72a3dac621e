#include "ui/WebBrowser.h"

#include "base/ConsoleLine.h"
#include "net/CertificateTrust.h"
#include "ui/BrowserNotice.h"
#include "ui/BurstSummary.h"
#include "ui/DownloadSaver.h"
#include "ui/LessonGate.h"
#include "ui/LocalFileGuard.h"
#include "ui/LoginDialog.h"
#include "ui/WebPage.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QAuthenticator>
#include <QFile>
#include <QSslCertificate>
#include <QWebEngineCertificateError>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include <utility>

namespace kestrel {

namespace {

constexpr double kSmallestZoom = 0.25;
constexpr double kLargestZoom = 5.0;
// Pages and the engine's own texts in Chinese first.
const char kAcceptLanguage[] = "zh-CN,zh;q=0.9,en;q=0.5";

// A local page gets no WebRTC: its connections bypass every request the
// guard sees. Frames of a local page count as local.
const char kNoWebRtcOnLocalPages[] = R"(
(function () {
  var local = location.protocol === 'file:';
  try {
    local = local || Array.prototype.some.call(location.ancestorOrigins || [],
        function (origin) { return origin === 'file://' || origin === 'null'; });
  } catch (e) {}
  if (!local)
    return;
  ['RTCPeerConnection', 'webkitRTCPeerConnection', 'RTCDataChannel', 'RTCSessionDescription',
   'RTCIceCandidate', 'RTCRtpSender', 'RTCRtpReceiver', 'RTCRtpTransceiver'].forEach(function (name) {
    try { Object.defineProperty(window, name, {value: undefined, writable: false, configurable: false}); } catch (e) {}
  });
})();
)";

// What a pupil or a teacher can tell IT staff.
QString CertificateProblemText(QWebEngineCertificateError::Type type)
{
    switch (type) {
    case QWebEngineCertificateError::CertificateCommonNameInvalid:
        return QStringLiteral("网站的证书不是颁发给这个地址的。");
    case QWebEngineCertificateError::CertificateDateInvalid:
        return QStringLiteral("网站的证书已过期或尚未生效；也请检查本机的日期和时间是否正确。");
    case QWebEngineCertificateError::CertificateAuthorityInvalid:
        return QStringLiteral("网站的证书不是由本机信任的机构签发的。");
    case QWebEngineCertificateError::CertificateRevoked:
        return QStringLiteral("网站的证书已被吊销。");
    case QWebEngineCertificateError::CertificateWeakSignatureAlgorithm:
    case QWebEngineCertificateError::CertificateWeakKey:
        return QStringLiteral("网站的证书使用的加密方式太弱。");
    default:
        return QStringLiteral("网站的证书无效。");
    }
}

QWebEngineScript NoWebRtcOnLocalPages()
{
    QWebEngineScript script;
    script.setName(QStringLiteral("kestrel-no-webrtc-on-local-pages"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QString::fromUtf8(kNoWebRtcOnLocalPages));
    return script;
}

} // namespace

CWebBrowser::CWebBrowser(const QString& localFolder, bool downloadsOn, QWidget* parent)
    : QWebEngineView(parent)
    , m_gate(localFolder)
    // A profile without a storage name keeps everything in memory.
    , m_profile(new QWebEngineProfile(this))
    , m_guard(new CLocalFileGuard(m_gate, this))
    , m_lessonGate(new CLessonGate(m_gate, this))
    , m_page(new CWebPage(m_profile, m_gate, *m_lessonGate, this))
    , m_downloads(new CDownloadSaver(m_profile, downloadsOn, this))
    , m_notice(new CBrowserNotice(this))
    , m_refusedWindows(new CBurstSummary([this] { PrintRefusedWindows(); }, this))
    , m_certificateBundle(QString::fromLatin1(kSystemCertificateBundle))
{
    setObjectName(QStringLiteral("browser"));
    QWebEngineSettings* settings = m_profile->settings();
    // A page must never hand an address of an unknown kind to another program.
    settings->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // Worksheets are PDFs; lesson videos and slides go fullscreen.
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, true);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    m_profile->setHttpAcceptLanguage(QString::fromLatin1(kAcceptLanguage));
    m_profile->setUrlRequestInterceptor(m_guard);
    m_profile->scripts()->insert(NoWebRtcOnLocalPages());
    setPage(m_page);

    connect(this, &QWebEngineView::loadStarted, this, &CWebBrowser::DownloadBegin);
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_newWindows.NewPage(); });
    connect(this, &QWebEngineView::loadStarted, m_notice, &QWidget::hide);
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_certificateProblem.clear(); });
    connect(this, &QWebEngineView::loadFinished, this, &CWebBrowser::DownloadComplete);
    // After "Done", so that the line stays.
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (!ok && !m_certificateProblem.isEmpty())
            m_notice->Show(QStringLiteral("无法安全地打开此网站"),
                           m_certificateProblem + QStringLiteral("\n\n为了安全，这个网页不能打开。请告诉老师或学校的信息技术人员。"));
        if (std::exchange(m_bReloadingAfterCrash, false))
            emit StatusLine(QStringLiteral("网页意外终止，已重新载入"));
    });
    connect(this, &QWebEngineView::loadProgress, this,
            [this](int progress) { emit ProgressChange(progress, 100); });
    connect(m_page, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { RequestNewWindow(request.requestedUrl(), request.isUserInitiated()); });
    connect(m_downloads, &CDownloadSaver::Progress, this, &CWebBrowser::DownloadProgress);
    connect(m_downloads, &CDownloadSaver::Outcome, this, &CWebBrowser::StatusLine);
    connect(m_page, &QWebEnginePage::fullScreenRequested, this, [this](QWebEngineFullScreenRequest request) {
        if (m_bFullScreenRefused && request.toggleOn()) {
            request.reject();
            return;
        }
        request.accept();
        m_bFullScreen = request.toggleOn();
        emit FullScreenChanged(m_bFullScreen);
    });
    connect(m_page, &QWebEnginePage::authenticationRequired, this, [this](const QUrl& url, QAuthenticator* authenticator) {
        CLoginDialog::Ask(url.host(), authenticator, window());
    });
    connect(m_page, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                CLoginDialog::Ask(QStringLiteral("代理服务器 %1").arg(proxyHost), authenticator, window());
            });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, &CWebBrowser::OnRendererGone);
    connect(m_page, &QWebEnginePage::certificateError, this, &CWebBrowser::OnCertificateError);
    connect(m_notice, &CBrowserNotice::ButtonClicked, this, &CWebBrowser::reload);
    ReportCommandState(QWebEnginePage::Back, CSC_NAVIGATEBACK);
    ReportCommandState(QWebEnginePage::Forward, CSC_NAVIGATEFORWARD);
    ReportCommandState(QWebEnginePage::Stop, CSC_UPDATECOMMANDS);

    // Same-document changes and pages from the back-forward cache ask no
    // navigation question: the address they leave is checked instead.
    connect(this, &QWebEngineView::urlChanged, this, &CWebBrowser::CheckShownPage);
    connect(m_lessonGate, &CLessonGate::RuleChanged, this, &CWebBrowser::CheckShownPage);
    m_clock.start();

    m_closeAnswer.setSingleShot(true);
    connect(&m_closeAnswer, &QTimer::timeout, this, &CWebBrowser::OnPageClosing);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, &CWebBrowser::OnPageClosing);
    // While the user reads the question, the page has answered: no limit.
    connect(m_page, &CWebPage::LeaveQuestionShown, &m_closeAnswer, &QTimer::stop);
    connect(m_page, &CWebPage::LeaveQuestionAnswered, this, [this](bool leave) {
        if (!m_bAskingToClose)
            return;
        if (leave)
            m_closeAnswer.start(kCloseAnswerMs);
        else
            m_bAskingToClose = false;
    });
}

CWebBrowser::~CWebBrowser()
{
    // The page must go before the profile it lives in.
    setPage(nullptr);
    delete m_page;
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
    if (m_gate.MayNavigate(target))
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

void CWebBrowser::ZoomIn()
{
    setZoomFactor(qMin(zoomFactor() + kZoomStep, kLargestZoom));
}

void CWebBrowser::ZoomOut()
{
    setZoomFactor(qMax(zoomFactor() - kZoomStep, kSmallestZoom));
}

void CWebBrowser::ResetZoom()
{
    setZoomFactor(1.0);
}

bool CWebBrowser::LeaveFullScreen()
{
    if (!m_bFullScreen)
        return false;
    triggerPageAction(QWebEnginePage::ExitFullScreen);
    return true;
}

void CWebBrowser::ShowEmptyPage()
{
    m_page->DrawEmptyPage();
}

void CWebBrowser::CheckShownPage()
{
    if (!m_lessonGate->Allows(url()))
        emit PageNotAllowed();
}

void CWebBrowser::ShowNotice(const QString& title, const QString& text)
{
    m_notice->Show(title, text);
}

void CWebBrowser::OnRendererGone(QWebEnginePage::RenderProcessTerminationStatus status)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    if (m_bFullScreen) {
        m_bFullScreen = false;
        emit FullScreenChanged(false);
    }
    const qint64 now = m_clock.elapsed();
    if (m_lastRecoveryMs >= 0 && now - m_lastRecoveryMs < kCrashRepeatMs) {
        PrintLine(QStringLiteral("The page's renderer ended again within a minute: %1 is not reloaded").arg(LocationURL()).toStdString());
        m_notice->Show(QStringLiteral("此网页无法显示"),
                       QStringLiteral("此网页在一分钟内两次意外终止，已停止自动重新载入。\n"
                                      "可以点击下面的按钮再试一次；如果仍然不行，请告诉老师。"),
                       QStringLiteral("重新载入"));
        return;
    }
    m_lastRecoveryMs = now;
    PrintLine(QStringLiteral("The page's renderer ended: %1 is reloaded").arg(LocationURL()).toStdString());
    m_bReloadingAfterCrash = true;
    reload();
}

void CWebBrowser::OnCertificateError(const QWebEngineCertificateError& reported)
{
    QWebEngineCertificateError error = reported;
    const QString host = error.url().host();
    if (error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid) {
        std::vector<std::string> chain;
        for (const QSslCertificate& certificate : error.certificateChain())
            chain.push_back(certificate.toDer().toStdString());
        // The school's own authority, installed the Debian way.
        if (ChainIsTrusted(chain, host.toStdString(), QFile::encodeName(m_certificateBundle).toStdString())) {
            error.acceptCertificate();
            return;
        }
    }
    PrintLine(QStringLiteral("Certificate refused for %1: %2").arg(error.url().toString(), error.description()).toStdString());
    error.rejectCertificate();
    // Shown when the load it ends is over; a part of a page only loses that part.
    if (error.url().host() == url().host() || url().isEmpty())
        m_certificateProblem = QStringLiteral("%1：%2").arg(host, CertificateProblemText(error.type()));
}

void CWebBrowser::AskToClose()
{
    if (m_bAskingToClose)
        return;
    m_bAskingToClose = true;
    m_closeAnswer.start(kCloseAnswerMs);
    m_page->triggerAction(QWebEnginePage::RequestClose);
}

void CWebBrowser::OnPageClosing()
{
    // Only a close the program asked for ends anything.
    if (!m_bAskingToClose)
        return;
    m_bAskingToClose = false;
    m_closeAnswer.stop();
    emit CloseAgreed();
}

void CWebBrowser::DismissPageQuestions()
{
    m_page->DismissLeaveQuestion();
}

void CWebBrowser::RequestNewWindow(const QUrl& url, bool userInitiated)
{
    if (m_newWindows.Allow(userInitiated, m_clock.elapsed())) {
        if (m_lessonGate->Limited())
            Navigate(url.toString());
        else
            emit NewWindow2(url);
        return;
    }
    m_refusedWindows->Note();
}

void CWebBrowser::PrintRefusedWindows()
{
    if (const int refused = m_newWindows.TakeRefused())
        PrintLine(QStringLiteral("New windows refused: %1 (only a click opens one, at most one a second and %2 a page)")
                      .arg(refused)
                      .arg(CNewWindowLimit::kPerPage)
                      .toStdString());
}

QMenu* CWebBrowser::CreateContextMenu(const QUrl& linkUrl)
{
    auto* menu = new QMenu(this);
    const auto addPageAction = [this, menu](const char* text, QWebEnginePage::WebAction action) {
        QAction* entry = menu->addAction(QString::fromUtf8(text), this, [this, action] { triggerPageAction(action); });
        entry->setEnabled(pageAction(action)->isEnabled());
    };
    menu->addAction(QStringLiteral("后退"), this, &CWebBrowser::BackCommand)->setEnabled(pageAction(QWebEnginePage::Back)->isEnabled());
    menu->addAction(QStringLiteral("前进"), this, &CWebBrowser::ForwardCommand)
        ->setEnabled(pageAction(QWebEnginePage::Forward)->isEnabled());
    menu->addAction(QStringLiteral("刷新"), this, &CWebBrowser::RefreshCommand);
    menu->addSeparator();
    addPageAction("复制", QWebEnginePage::Copy);
    addPageAction("粘贴", QWebEnginePage::Paste);
    addPageAction("全选", QWebEnginePage::SelectAll);
    if (!linkUrl.isValid() || linkUrl.isEmpty())
        return menu;
    menu->addSeparator();
    addPageAction("复制链接地址", QWebEnginePage::CopyLinkToClipboard);
    // The pupil's own click, under the same limit as a click on the page.
    if (m_newWindows.HasRoom() && (linkUrl.scheme() == QLatin1String("http") || linkUrl.scheme() == QLatin1String("https")))
        menu->addAction(QStringLiteral("在新窗口中打开"), this, [this, linkUrl] { RequestNewWindow(linkUrl, true); });
    return menu;
}

void CWebBrowser::contextMenuEvent(QContextMenuEvent* event)
{
    const QWebEngineContextMenuRequest* request = lastContextMenuRequest();
    QMenu* menu = CreateContextMenu(request ? request->linkUrl() : QUrl());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CWebBrowser::ReportCommandState(QWebEnginePage::WebAction action, CommandState command)
{
    const QAction* engineAction = pageAction(action);
    connect(engineAction, &QAction::changed, this,
            [this, engineAction, command] { emit CommandStateChange(command, engineAction->isEnabled()); });
}

} // namespace kestrel
