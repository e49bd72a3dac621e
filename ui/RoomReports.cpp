#include "ui/RoomReports.h"

#include "base/SteadyClock.h"
#include "channel/LinkReceiver.h"
#include "ui/ClassroomLinks.h"
#include "ui/WebBrowser.h"

#include <algorithm>
#include <random>

namespace kestrel {

namespace {

// Records arrive without a signal: while reports go, the held links are
// looked at this often.
constexpr std::int64_t kLookEveryMs = 1000;

} // namespace

CRoomReports::CRoomReports(CLinkReceiver& receiver, CClassroomLinks& links, CWebBrowser& browser, bool reportPage,
                           QObject* parent)
    : QObject(parent)
    , m_receiver(receiver)
    , m_links(links)
    , m_browser(browser)
    , m_reporter(ThisMachine(!reportPage), std::random_device()())
{
    m_nextLook.setSingleShot(true);
    connect(&m_nextLook, &QTimer::timeout, this, &CRoomReports::Look);
    connect(&links, &CClassroomLinks::StateApplied, this, [this](const ClassroomState& state) {
        m_reporter.FollowState(state, m_receiver.ListeningPort(), SteadyMilliseconds());
        Look();
    });
    connect(&links, &CClassroomLinks::StateLapsed, this, [this] {
        m_reporter.Stop();
        m_nextLook.stop();
    });
    connect(&links, &CClassroomLinks::ModeChanged, this, &CRoomReports::Look);
    connect(&browser, &CWebBrowser::urlChanged, this, &CRoomReports::Look);
}

void CRoomReports::Look()
{
    const std::int64_t now = SteadyMilliseconds();
    // The announcer reads hosts in their ASCII form.
    const QByteArray host = m_browser.url().host(QUrl::FullyEncoded).toLatin1();
    m_reporter.Show(m_links.Mode(), m_receiver.Store(), std::string_view(host.constData(), host.size()), now);
    const std::int64_t due = m_reporter.SendWhenDue(now);
    if (due == CScreenReporter::kNever)
        m_nextLook.stop();
    else
        m_nextLook.start(static_cast<int>(std::min(due - now, kLookEveryMs)));
}

} // namespace kestrel
