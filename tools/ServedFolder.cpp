#include "tools/ServedFolder.h"

#include "base/ConsoleLine.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrel {

CServedFolder::CServedFolder(FolderToServe folder) : m_folder(std::move(folder))
{
    Resolved();
}

int CServedFolder::OpenFile(const std::string& relativePath, std::uint64_t& size)
{
    // A folder taken away and made again (a purge and a new install) is
    // found again through its original path.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string resolved = Resolved();
        if (resolved.empty())
            return -1;
        const int folder = ::open(resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            Forget(resolved);
            continue;
        }
        open_how how = {};
        // Non-blocking, so that a FIFO put in the folder cannot hold a thread.
        how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        const int file = static_cast<int>(::syscall(SYS_openat2, folder, relativePath.c_str(), &how, sizeof how));
        ::close(folder);
        struct stat status;
        if (file >= 0 && (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))) {
            ::close(file);
            return -1;
        }
        if (file >= 0)
            size = static_cast<std::uint64_t>(status.st_size);
        return file;
    }
    return -1;
}

std::string CServedFolder::Resolved()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_resolved.empty())
        return m_resolved;
    char resolved[PATH_MAX];
    struct stat status;
    if (::realpath(m_folder.directory.c_str(), resolved) == nullptr || ::stat(resolved, &status) != 0
        || !S_ISDIR(status.st_mode)) {
        if (!m_missingReported)
            PrintLine("cannot find the folder " + m_folder.directory + "; " + m_folder.urlPrefix
                + " is answered 404 until it appears");
        m_missingReported = true;
        return std::string();
    }
    if (m_missingReported)
        PrintLine("found the folder " + m_folder.directory + "; serving it at " + m_folder.urlPrefix);
    m_missingReported = false;
    m_resolved = resolved;
    return m_resolved;
}

void CServedFolder::Forget(const std::string& resolved)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_resolved == resolved)
        m_resolved.clear();
}

} // namespace kestrel
