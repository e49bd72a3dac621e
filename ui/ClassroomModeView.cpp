#include "ui/ClassroomModeView.h"

#include "catalogue/HomeUrl.h"
#include "ui/ClassroomLinks.h"
#include "ui/LessonGate.h"
#include "ui/MainDlg.h"
#include "ui/PauseCover.h"
#include "ui/ShortNote.h"
#include "ui/StatusBar.h"
#include "ui/WebBrowser.h"

namespace kestrel {

namespace {

constexpr int kRefusedNoteMs = 5000;

QString ModeLabel(ClassroomMode mode)
{
    switch (mode) {
    case ClassroomMode::LessonOnly:
        return QStringLiteral("仅本课");
    case ClassroomMode::Paused:
        return QStringLiteral("暂停");
    case ClassroomMode::Open:
        break;
    }
    return QString();
}

} // namespace

CClassroomModeView::CClassroomModeView(CMainDlg& window, CWebBrowser& browser, CStatusBar& statusBar,
                                       CClassroomLinks& links)
    : QObject(&window)
    , m_window(window)
    , m_browser(browser)
    , m_statusBar(statusBar)
    , m_links(links)
    , m_cover(new CPauseCover(&window, [&window] { window.ComeForward(); }))
    , m_refusedNote(new CShortNote(&browser))
{
    connect(&links, &CClassroomLinks::ModeChanged, this, &CClassroomModeView::OnModeChanged);
    connect(&links, &CClassroomLinks::LessonHostsChanged, this, &CClassroomModeView::OnLessonHostsChanged);
    connect(&links, &CClassroomLinks::PauseCountdownSet, this, [this](int seconds) {
        m_cover->Cover(m_links.PauseMessage());
        m_cover->SetCountdown(seconds);
    });
    connect(&browser, &CWebBrowser::PageNotAllowed, this, &CClassroomModeView::ReplaceShownPage);
    connect(&browser.LessonGate(), &CLessonGate::Refused, m_refusedNote,
            [this] { m_refusedNote->Show(QStringLiteral("本课只能打开老师给的网站"), kRefusedNoteMs); });
}

bool CClassroomModeView::Paused() const
{
    return m_cover->Covering();
}

void CClassroomModeView::OnModeChanged(ClassroomMode mode)
{
    const bool paused = mode == ClassroomMode::Paused;
    if (!paused)
        m_cover->Uncover();
    m_browser.page()->setAudioMuted(paused);
    m_browser.RefuseFullScreen(paused);
    if (paused)
        m_browser.LeaveFullScreen();
    if (mode == ClassroomMode::LessonOnly)
        m_browser.LessonGate().Limit(m_links.LessonHosts());
    else
        m_browser.LessonGate().Lift();
    m_statusBar.ShowMode(ModeLabel(mode));
}

void CClassroomModeView::OnLessonHostsChanged()
{
    if (m_links.Mode() == ClassroomMode::LessonOnly)
        m_browser.LessonGate().Limit(m_links.LessonHosts());
}

void CClassroomModeView::ReplaceShownPage()
{
    if (!HomeUrl().empty())
        m_window.NavigateHome();
    else if (m_links.LinkCount() > 0)
        m_window.OpenLink(m_links.LinkUrl(1));
    else
        m_browser.ShowEmptyPage();
}

} // namespace kestrel
