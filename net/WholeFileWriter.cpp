#include "net/WholeFileWriter.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrel {

namespace {

// Returns 0 when every byte went out and the file closed cleanly, else the
// error that stopped it.
int WriteAndClose(int fd, const unsigned char* bytes, std::size_t count)
{
    int error = 0;
    while (count > 0 && error == 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written == 0 || errno != EINTR) {
            error = written == 0 ? EIO : errno;
        }
    }
    if (close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

void ReportFailure(const char* path, int error)
{
    std::printf("Cannot write %s: %s\n", path, std::strerror(error));
    std::fflush(stdout);
}

} // namespace

bool WriteWholeFile(const char* path, const unsigned char* bytes, std::size_t count)
{
    // Unique per process and call, so that two writers never share a file.
    static std::atomic<unsigned> s_serial{0};
    char partPath[PATH_MAX];
    const int length = std::snprintf(partPath, sizeof partPath, "%s.%ld.%u.part", path, static_cast<long>(getpid()), s_serial++);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof partPath) {
        ReportFailure(path, ENAMETOOLONG);
        return false;
    }
    const int fd = open(partPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        ReportFailure(path, errno);
        return false;
    }
    int error = WriteAndClose(fd, bytes, count);
    if (error == 0 && rename(partPath, path) == 0)
        return true;
    if (error == 0)
        error = errno;
    unlink(partPath);
    ReportFailure(path, error);
    return false;
}

} // namespace kestrel
