#include "app/TerminationSignal.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kestrel {

namespace {

// The handler may only write to a pipe; the window's thread reads it.
int g_pipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    (void)!write(g_pipe[1], &byte, 1);
}

} // namespace

CTerminationSignal::CTerminationSignal(QObject* parent)
    : QObject(parent)
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        emit Received();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
}

CTerminationSignal::~CTerminationSignal()
{
    signal(SIGTERM, SIG_DFL);
    if (g_pipe[0] < 0)
        return;
    delete m_notifier;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

} // namespace kestrel
