#include "ui/WindowAliveWait.h"

#include <QEventLoop>
#include <QMetaObject>

#include <thread>

namespace kestrel {

void RunKeepingWindowAlive(const std::function<void()>& work)
{
    QEventLoop loop;
    // The quit is queued, so it is not lost when the work ends before the
    // loop has started.
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

} // namespace kestrel
