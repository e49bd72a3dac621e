#include "ui/WaitingNotice.h"

#include "ui/WebBrowser.h"

namespace kestrel {

namespace {

// How long the notice stays short before it says what to check.
constexpr int kHintAfterMs = 10000;

} // namespace

CWaitingNotice::CWaitingNotice(CWebBrowser* browser, long port, QObject* parent)
    : QObject(parent)
    , m_browser(browser)
    , m_port(port)
{
    Show(false);
    m_hintTimer.setSingleShot(true);
    connect(&m_hintTimer, &QTimer::timeout, this, [this] { Show(true); });
    // The notice goes with the first page; so does its hint.
    connect(m_browser, &QWebEngineView::loadStarted, &m_hintTimer, &QTimer::stop);
    m_hintTimer.start(kHintAfterMs);
}

void CWaitingNotice::Show(bool withChecks)
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

} // namespace kestrel
