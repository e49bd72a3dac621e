#include "app/MainApp.h"

#include "app/ChineseLocale.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignal.h"
#include "base/ConsoleLine.h"
#include "channel/LinkReceiver.h"
#include "config/SettingsPath.h"
#include "ui/MainDlg.h"

#include <curl/curl.h>

#include <QFile>
#include <QSessionManager>
#include <QStandardPaths>

#include <unistd.h>

namespace kestrel {

namespace {

const char kSandboxSwitch[] = "QTWEBENGINE_DISABLE_SANDBOX";

// The web engine refuses to start as root with its sandbox on; rather than
// die with the engine's message, say so and run without it.
void AllowWebEngineAsRoot()
{
    if (geteuid() != 0 || qEnvironmentVariableIsSet(kSandboxSwitch))
        return;
    PrintLine("Running as root: the web engine's sandbox is off");
    qputenv(kSandboxSwitch, "1");
}

} // namespace

CMainApp::CMainApp(int& argc, char** argv)
    : m_app(argc, argv)
{
    // Pictures are fetched on worker threads; libcurl's global state must
    // be set up once before any of them starts.
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CMainApp::~CMainApp()
{
    curl_global_cleanup();
}

int CMainApp::Run()
{
    // Taken from the start: a SIGTERM while the window is still being built
    // waits for it and ends it in order.
    CTerminationSignal termination;
    const QString programPath = QCoreApplication::applicationFilePath();
    CSingleInstance instance(CSingleInstance::InstanceKey(programPath),
                             QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (!instance.TryClaim()) {
        instance.AskRunningInstanceToComeForward();
        return 0;
    }
    // POSIX sockets need no library start-up, so there is no start-up
    // failure to report here.
    AllowWebEngineAsRoot();
    UseChineseLocale(m_app);

    // The settings file lies beside the program; the window reads what it
    // needs from it when it starts.
    const std::string settingsPath = SettingsPathFor(QFile::encodeName(programPath).toStdString());
    // The one receiver of the process. The window starts and closes it, and
    // it outlives the window, so nothing it holds points into a window gone.
    CLinkReceiver receiver;
    CMainDlg dialog(settingsPath, receiver);
    QObject::connect(&instance, &CSingleInstance::ComeForwardRequested, &dialog, &CMainDlg::ComeForward);
    // The session or the system is ending: nobody is there to answer a page.
    QObject::connect(&termination, &CTerminationSignal::Received, &dialog, &CMainDlg::EndWithoutAsking);
    QObject::connect(&m_app, &QGuiApplication::commitDataRequest, &dialog,
                     [&dialog](QSessionManager&) { dialog.EndWithoutAsking(); });
    m_app.exec();
    return 0;
}

} // namespace kestrel
