#include "ui/SchemeGate.h"

#include "base/ConsoleLine.h"

#include <QStringList>

namespace kestrel {

namespace {

bool SchemeAllowed(const QUrl& url, const QStringList& schemes, const QString& refusal)
{
    if (url.isValid() && schemes.contains(url.scheme()))
        return true;
    PrintLine(refusal.arg(url.toString(), schemes.join(QStringLiteral(", "))).toStdString());
    return false;
}

} // namespace

bool MayNavigate(const QUrl& url)
{
    return SchemeAllowed(url, {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file")},
                         QStringLiteral("Not opened: \"%1\" is not an address of %2"));
}

bool MayOpenOutside(const QUrl& url)
{
    return SchemeAllowed(url, {QStringLiteral("http"), QStringLiteral("https")},
                         QStringLiteral("New window not opened: \"%1\" is not an address of %2"));
}

} // namespace kestrel
