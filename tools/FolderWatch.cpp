#include "tools/FolderWatch.h"

#include "tools/StopSignals.h"

#include <algorithm>
#include <chrono>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr std::uint32_t kFolderEvents
    = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

CFolderWatch::CFolderWatch(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        if (file.empty())
            continue;
        const std::size_t slash = file.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
        const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
        auto known = std::find_if(m_folders.begin(), m_folders.end(), [&](const Folder& f) { return f.path == folder; });
        if (known == m_folders.end())
            known = m_folders.insert(m_folders.end(), Folder{folder, {}, -1});
        known->names.push_back(name);
    }
    if (!m_folders.empty())
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Watched from now on, before the files are first read: a change in
    // between is not lost.
    bool found = false;
    WatchFolders(found);
}

CFolderWatch::~CFolderWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CFolderWatch::WatchFolders(bool& found)
{
    bool missing = false;
    for (Folder& folder : m_folders) {
        if (folder.watch < 0 && m_fd >= 0)
            folder.watch = inotify_add_watch(m_fd, folder.path.c_str(), kFolderEvents | IN_ONLYDIR);
        found = found || (folder.missing && folder.watch >= 0);
        folder.missing = folder.watch < 0;
        missing = missing || folder.missing;
    }
    return missing;
}

bool CFolderWatch::ReadEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        const ssize_t length = read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return changed;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // Events were lost: whatever they were, read the files again.
            changed = changed || (event->mask & IN_Q_OVERFLOW) != 0;
            for (Folder& folder : m_folders) {
                if (folder.watch != event->wd)
                    continue;
                // A folder renamed into place or taken away: looked for again.
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    inotify_rm_watch(m_fd, folder.watch);
                    folder.watch = -1;
                    folder.missing = true;
                    changed = true;
                } else if (event->len > 0
                           && std::find(folder.names.begin(), folder.names.end(), event->name) != folder.names.end()) {
                    changed = true;
                }
            }
        }
    }
}

CFolderWatch::Wake CFolderWatch::Wait(CStopSignals& stop, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool found = false;
        const bool looking = WatchFolders(found);
        if (found)
            return Wake::Changed;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return Wake::TimedOut;
        const int wait = static_cast<int>(looking ? std::min<long long>(left.count(), kLookIntervalMs) : left.count());
        pollfd watched[2] = {{stop.Descriptor(), POLLIN, 0}, {m_fd, POLLIN, 0}};
        const int ready = poll(watched, m_fd >= 0 ? 2 : 1, wait);
        if (ready > 0 && (watched[0].revents & POLLIN))
            return Wake::Stopped;
        if (ready > 0 && (watched[1].revents & POLLIN) && ReadEvents())
            return Wake::Changed;
        if (ready == 0 && looking && wait < left.count())
            return Wake::Changed;
    }
}

} // namespace kestrel
