#pragma once

#include "catalogue/AllowedHosts.h"

#include <QObject>
#include <QUrl>

#include <string>

namespace kestrel {

class CBurstSummary;
class CSchemeGate;

// "Lesson only" for the page the pupil sees: while it is on, a main page
// may be an http or https address of an allowed host, or a file of the
// local folder. Frames, pictures, scripts and the rest are never limited,
// so lesson pages keep their players and CDNs.
class CLessonGate : public QObject {
    Q_OBJECT

public:
    CLessonGate(const CSchemeGate& schemes, QObject* parent);

    // Lesson only begins, or its hosts change.
    void Limit(const CAllowedHosts& hosts);
    void Lift();
    bool Limited() const { return m_limited; }

    // Whether `url` may be the main page; always while not limited. The
    // empty page drawn in place of one not allowed counts as allowed.
    bool Allows(const QUrl& url) const;
    // A main-frame navigation asks: a refusal is counted for the summary
    // line and reported.
    bool Admit(const QUrl& url);

signals:
    void Refused();
    // The rule began or its hosts changed: the page shown is checked again.
    void RuleChanged();

private:
    const CSchemeGate& m_schemes;
    CAllowedHosts m_hosts;
    bool m_limited = false;
    int m_refused = 0;
    CBurstSummary* m_summary;
};

// The host as allowed hosts name it: lower case, internationalised names in
// their ASCII form.
std::string HostOf(const QUrl& url);

} // namespace kestrel
