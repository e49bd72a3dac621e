#include "base/WholeFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now, so that a failure to flush on close is seen.
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes go to the file a symbolic link names, so that the link stays a link,
// also when that file is missing (a settings file the administrator deleted
// behind its link). A chain of links is followed as far as the system does.
int ResolveWriteTarget(const std::string& path, std::string& target)
{
    constexpr int kMaxLinkHops = 40;
    target = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(target.c_str(), nullptr), &std::free);
        if (resolved) {
            target = resolved.get();
            return 0;
        }
        char linkText[PATH_MAX];
        const ssize_t length = ::readlink(target.c_str(), linkText, sizeof linkText);
        if (length < 0 || length == static_cast<ssize_t>(sizeof linkText))
            return 0; // not a link: the path itself is the file to create
        const std::string named(linkText, static_cast<std::size_t>(length));
        target = named.front() == '/' ? named : DirectoryOf(target) + "/" + named;
    }
    return ELOOP;
}

// Opens a new file beside `path`, named by process and count so that two
// writers never share one; a leftover of a crashed process is stepped over.
int CreateTemporaryBeside(const std::string& path, std::string& temporaryPath)
{
    static std::atomic<unsigned> s_count{0};
    constexpr int kAttempts = 8;
    int fd = -1;
    for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
        temporaryPath = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(s_count++);
        fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    return fd;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = EIO;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Fills and syncs the temporary file; the old file's owner and mode carry over.
bool FillTemporary(FileDescriptor& file, std::string_view bytes, const struct stat* old)
{
    if (old) {
        // Changing the owner may clear the mode's set-id bits, so the mode comes after.
        (void)::fchown(file.Get(), old->st_uid, old->st_gid);
        if (::fchmod(file.Get(), old->st_mode & 07777) != 0)
            return false;
    }
    return WriteAll(file.Get(), bytes) && ::fsync(file.Get()) == 0 && file.Close();
}

// Makes the rename itself durable; a failure here loses nothing already written.
void SyncDirectory(const std::string& directory)
{
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        (void)::fsync(dir.Get());
}

} // namespace

WholeFileRead ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& text)
{
    using State = WholeFileRead::State;
    text.clear();
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0)
        return {errno == ENOENT || errno == ENOTDIR ? State::Missing : State::Failed, errno};
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0)
        return {State::Failed, errno};
    if (!S_ISREG(status.st_mode))
        return {State::NotRegular, 0};

    text.reserve(std::min(static_cast<std::size_t>(status.st_size), maxBytes));
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            text.clear();
            return {State::Failed, error};
        }
        if (got == 0)
            return {State::Loaded, 0};
        if (text.size() + static_cast<std::size_t>(got) > maxBytes) {
            text.clear();
            return {State::TooLarge, 0};
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

int ReplaceWholeFile(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return ENOENT;
    std::string target;
    if (const int error = ResolveWriteTarget(path, target))
        return error;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // The file's own write permission counts, not only its directory's.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;

    std::string temporaryPath;
    FileDescriptor file(CreateTemporaryBeside(target, temporaryPath));
    if (file.Get() < 0)
        return errno;
    if (!FillTemporary(file, bytes, exists ? &old : nullptr) || ::rename(temporaryPath.c_str(), target.c_str()) != 0) {
        const int failure = errno;
        ::unlink(temporaryPath.c_str());
        return failure;
    }
    SyncDirectory(DirectoryOf(target));
    return 0;
}

} // namespace kestrel
