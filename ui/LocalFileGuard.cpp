#include "ui/LocalFileGuard.h"

#include "base/ConsoleLine.h"

namespace kestrel {

namespace {

bool MadeByLocalPage(const QWebEngineUrlRequestInfo& info)
{
    return info.initiator().scheme() == QLatin1String("file") || info.firstPartyUrl().isLocalFile();
}

} // namespace

CLocalFileGuard::CLocalFileGuard(const CSchemeGate& gate, QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent)
    , m_gate(gate)
{
}

void CLocalFileGuard::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    const QUrl url = info.requestUrl();
    const char* why = nullptr;
    if (url.isLocalFile()) {
        if (!m_gate.IsInsideLocalFolder(url))
            why = "is outside the local folder";
    } else if (MadeByLocalPage(info)) {
        why = "was asked for by a local page";
    }
    if (!why)
        return;
    info.block(true);
    PrintLine(QStringLiteral("Blocked: \"%1\" %2").arg(url.toString(), QLatin1String(why)).toStdString());
}

} // namespace kestrel
