#pragma once

#include "channel/ScreenReporter.h"

#include <QObject>
#include <QTimer>

namespace kestrel {

class CClassroomLinks;
class CLinkReceiver;
class CWebBrowser;

// The window's reports to the announcer of the room view: what the screen
// shows (the mode, the digest of the held links as the last trusted state
// lists them, the host of the page) is looked at whenever one of them may
// have changed and once a second while reports go, and the reporter sends
// when its time comes. `reportPage` false ("报告网页=关") keeps the login and
// the page's host back.
class CRoomReports : public QObject {
    Q_OBJECT

public:
    CRoomReports(CLinkReceiver& receiver, CClassroomLinks& links, CWebBrowser& browser, bool reportPage,
                 QObject* parent);

private:
    void Look();

    CLinkReceiver& m_receiver;
    CClassroomLinks& m_links;
    CWebBrowser& m_browser;
    CScreenReporter m_reporter;
    QTimer m_nextLook;
};

} // namespace kestrel
