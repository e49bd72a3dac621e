#include "tools/ServedFolder.h"

#include "base/ConsoleLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kestrel {
namespace {

// systemd's RestrictSUIDSGID= (which DynamicUser= implies) answers openat2
// with ENOSYS, as it cannot see its flags: then the path is walked one
// name at a time, following no link and never going up.
int OpenBeneathByWalking(int folder, const std::string& relativePath, int flags)
{
    int current = ::dup(folder);
    std::size_t start = 0;
    while (current >= 0) {
        const std::size_t slash = relativePath.find('/', start);
        const std::string name = relativePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (name.empty() || name == "." || name == "..") {
            ::close(current);
            return -1;
        }
        const bool last = slash == std::string::npos;
        const int next = ::openat(current, name.c_str(), last ? flags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(current);
        if (last)
            return next;
        current = next;
        start = slash + 1;
    }
    return -1;
}

} // namespace

struct CServedFolder::Handle {
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

CServedFolder::CServedFolder(FolderToServe folder) : m_folder(std::move(folder))
{
    Folder();
}

CServedFolder::~CServedFolder() = default;

int CServedFolder::OpenFile(const std::string& relativePath, std::uint64_t& size)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::shared_ptr<const Handle> folder = Folder();
        if (!folder)
            return -1;
        open_how how = {};
        // Non-blocking, so that a FIFO put in the folder cannot hold a thread.
        how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        int file = static_cast<int>(::syscall(SYS_openat2, folder->fd, relativePath.c_str(), &how, sizeof how));
        if (file < 0 && errno == ENOSYS)
            file = OpenBeneathByWalking(folder->fd, relativePath, static_cast<int>(how.flags));
        if (file >= 0) {
            struct stat status;
            if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
                ::close(file);
                return -1;
            }
            size = static_cast<std::uint64_t>(status.st_size);
            return file;
        }
        if (errno != ENOENT || IsStillAtItsPath(*folder))
            return -1;
        Forget(folder);
    }
    return -1;
}

std::shared_ptr<const CServedFolder::Handle> CServedFolder::Folder()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_handle)
        return m_handle;
    char resolved[PATH_MAX];
    auto handle = std::make_shared<Handle>();
    struct stat status;
    if (::realpath(m_folder.directory.c_str(), resolved) != nullptr)
        handle->fd = ::open(resolved, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (handle->fd < 0 || ::fstat(handle->fd, &status) != 0) {
        if (!m_missingReported)
            PrintLine("cannot find the folder " + m_folder.directory + "; " + m_folder.urlPrefix
                + " is answered 404 until it appears");
        m_missingReported = true;
        return nullptr;
    }
    if (m_missingReported)
        PrintLine("found the folder " + m_folder.directory + "; serving it at " + m_folder.urlPrefix);
    m_missingReported = false;
    handle->device = status.st_dev;
    handle->inode = status.st_ino;
    m_handle = handle;
    return m_handle;
}

bool CServedFolder::IsStillAtItsPath(const Handle& handle) const
{
    struct stat status;
    return ::stat(m_folder.directory.c_str(), &status) == 0 && status.st_dev == handle.device
        && status.st_ino == handle.inode;
}

void CServedFolder::Forget(const std::shared_ptr<const Handle>& handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_handle == handle)
        m_handle.reset();
}

} // namespace kestrel
