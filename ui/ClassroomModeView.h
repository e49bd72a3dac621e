#pragma once

#include "base/ClassroomState.h"

#include <QObject>

namespace kestrel {

class CClassroomLinks;
class CMainDlg;
class CPauseCover;
class CShortNote;
class CStatusBar;
class CWebBrowser;

// What the classroom's mode does to the window. Lesson only limits the
// main pages to the lesson's hosts, replaces a page that is not one of
// them and tells the pupil when one is refused. Paused covers the window,
// mutes the page and turns fullscreen down. While the mode is not open, the
// status bar names it.
class CClassroomModeView : public QObject {
    Q_OBJECT

public:
    CClassroomModeView(CMainDlg& window, CWebBrowser& browser, CStatusBar& statusBar, CClassroomLinks& links);

    bool Paused() const;
    CPauseCover& Cover() const { return *m_cover; }

private:
    void OnModeChanged(ClassroomMode mode);
    void OnLessonHostsChanged();
    // Home, else link 1, else an empty page.
    void ReplaceShownPage();

    CMainDlg& m_window;
    CWebBrowser& m_browser;
    CStatusBar& m_statusBar;
    CClassroomLinks& m_links;
    CPauseCover* const m_cover;
    CShortNote* const m_refusedNote;
};

} // namespace kestrel
