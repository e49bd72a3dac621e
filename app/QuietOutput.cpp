#include "app/QuietOutput.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QtGlobal>

namespace kestrel {

void QuietEngineOutput()
{
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        // In this process, and through the environment in the engine's.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
        qputenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
    }
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--log-level") || flags.contains("--enable-logging"))
        return;
    // Fatal messages only.
    flags.append(flags.isEmpty() ? "--log-level=3" : " --log-level=3");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

} // namespace kestrel
