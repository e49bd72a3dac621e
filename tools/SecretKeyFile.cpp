#include "tools/SecretKeyFile.h"

#include "base/WholeFile.h"
#include "channel/Base64.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr std::string_view kSecretKeyPrefix = "ed25519-secret ";
constexpr std::size_t kLargestKeyFile = 4096;

std::string Failure(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

} // namespace

bool CreateSecretKeyFile(const std::string& path, SigningKey& key, std::string& error)
{
    if (!GenerateSigningKey(key)) {
        error = "cannot make a key: the system's random source is not available";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? path + ": exists already; a key file is never overwritten" : Failure(path, errno);
        return false;
    }
    const std::string line = std::string(kSecretKeyPrefix) + Base64Text(key.seed.data(), key.seed.size()) + "\n";
    // The mode asked for at creation may have been narrowed by the umask,
    // never widened; fchmod makes it exactly the owner's.
    const bool written = ::fchmod(fd, 0600) == 0
        && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
    const int failure = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        error = Failure(path, failure);
        return false;
    }
    return true;
}

bool ReadSecretKeyFile(const std::string& path, SigningKey& key, std::string& error)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = Failure(path, errno);
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = path + ": the secret key can be read by group or others (chmod 600 " + path + ")";
        return false;
    }
    std::string text;
    const WholeFileRead read = ReadWholeFile(path, kLargestKeyFile, text);
    if (read.state != WholeFileRead::State::Loaded) {
        error = read.state == WholeFileRead::State::Failed ? Failure(path, read.error)
                                                           : path + ": not a secret key file";
        return false;
    }
    std::string_view line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    unsigned char seed[kSecretSeedSize];
    const bool parsed = line.substr(0, kSecretKeyPrefix.size()) == kSecretKeyPrefix
        && DecodeBase64Exactly(line.substr(kSecretKeyPrefix.size()), seed, sizeof seed);
    if (!parsed || !SigningKeyFromSeed(seed, key)) {
        error = path + ": not a secret key file (one line \"ed25519-secret <base64>\")";
        return false;
    }
    return true;
}

} // namespace kestrel
