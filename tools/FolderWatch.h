#pragma once

#include <string>
#include <vector>

namespace kestrel {

class CStopSignals;

// Wakes the announcer when one of the published files changes, so that a
// teacher's click reaches the screens within 200 ms rather than at the next
// round. The files' folders are watched, since the page replaces files by
// renaming new ones over them; while a folder does not exist, it is looked
// for every 200 ms instead, and each look counts as a change.
class CFolderWatch {
public:
    static constexpr int kLookIntervalMs = 200;

    // Empty paths are left out. Make it before the files are first read.
    explicit CFolderWatch(const std::vector<std::string>& files);
    ~CFolderWatch();
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    enum class Wake { Stopped, TimedOut, Changed };
    // Waits up to timeoutMs for a stop signal or a change of a watched file
    // (or, while a folder is missing, the next look).
    Wake Wait(CStopSignals& stop, int timeoutMs);

private:
    struct Folder {
        std::string path;
        std::vector<std::string> names;
        int watch = -1;
        bool missing = false;
    };

    // Watches the folders not yet watched; true when one is still missing.
    // `found`: a folder missing at the last look is there now, and its
    // files may have come with it.
    bool WatchFolders(bool& found);
    // Reads the pending events; true when one named a watched file.
    bool ReadEvents();

    int m_fd = -1;
    std::vector<Folder> m_folders;
};

} // namespace kestrel
