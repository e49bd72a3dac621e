#pragma once

#include <QObject>
#include <QTimer>

namespace kestrel {

class CWebBrowser;

// Until the first page starts, the browser says that it waits for the
// classroom's links on `port`; after ten seconds it adds what to check.
class CWaitingNotice : public QObject {
    Q_OBJECT

public:
    CWaitingNotice(CWebBrowser* browser, long port, QObject* parent);

private:
    void Show(bool withChecks);

    CWebBrowser* const m_browser;
    const long m_port;
    QTimer m_hintTimer;
};

} // namespace kestrel
