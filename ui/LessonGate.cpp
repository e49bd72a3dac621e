#include "ui/LessonGate.h"

#include "base/ConsoleLine.h"
#include "ui/BurstSummary.h"
#include "ui/SchemeGate.h"

#include <utility>

namespace kestrel {

CLessonGate::CLessonGate(const CSchemeGate& schemes, QObject* parent)
    : QObject(parent)
    , m_schemes(schemes)
    , m_summary(new CBurstSummary(
          [this] {
              PrintLine(QStringLiteral("Lesson only: %1 page(s) not opened, their hosts are not the lesson's")
                            .arg(std::exchange(m_refused, 0))
                            .toStdString());
          },
          this))
{
}

void CLessonGate::Limit(const CAllowedHosts& hosts)
{
    if (m_limited && hosts == m_hosts)
        return;
    m_limited = true;
    m_hosts = hosts;
    emit RuleChanged();
}

void CLessonGate::Lift()
{
    m_limited = false;
}

bool CLessonGate::Allows(const QUrl& url) const
{
    // Only the program itself draws a page of data (shown as about:blank):
    // the scheme gate refuses both to everyone else.
    if (!m_limited || url.isEmpty() || url.scheme() == QLatin1String("data") || url.scheme() == QLatin1String("about")
        || m_schemes.IsInsideLocalFolder(url))
        return true;
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    return web && m_hosts.Allows(HostOf(url));
}

std::string HostOf(const QUrl& url)
{
    return url.host(QUrl::EncodeUnicode).toLower().toStdString();
}

bool CLessonGate::Admit(const QUrl& url)
{
    if (Allows(url))
        return true;
    ++m_refused;
    m_summary->Note();
    emit Refused();
    return false;
}

} // namespace kestrel
