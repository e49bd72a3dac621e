#include "tools/StopSignals.h"

#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kestrel {

namespace {
sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

CStopSignals::CStopSignals()
{
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_fd = signalfd(-1, &set, SFD_CLOEXEC);
}

CStopSignals::~CStopSignals()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CStopSignals::WaitForStop(double seconds)
{
    pollfd watched = {m_fd, POLLIN, 0};
    return poll(&watched, 1, static_cast<int>(seconds * 1000)) > 0;
}

} // namespace kestrel
