#pragma once

#include "ui/SchemeGate.h"

#include <QWebEngineUrlRequestInterceptor>

namespace kestrel {

// Sees every request the engine makes. The engine's settings for local
// content stop a page's scripts only; this also refuses every file request
// outside the local folder (frames, images, links) and every network
// request (images, frames, fetch, WebSocket) made by a local page, so a
// lesson kept on the machine can neither read the machine's other files nor
// send anything out.
class CLocalFileGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    CLocalFileGuard(const CSchemeGate& gate, QObject* parent);
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    const CSchemeGate& m_gate;
};

} // namespace kestrel
