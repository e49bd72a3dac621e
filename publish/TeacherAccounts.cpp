#include "publish/TeacherAccounts.h"

#include "base/WholeFile.h"
#include "publish/TeacherSessions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr std::size_t kLargestAccountsFile = 1 << 20;
constexpr std::size_t kLongestPassword = 1024;

// Finds the line of `name`: its start, and the end past its newline.
bool FindLine(const std::string& text, const std::string& name, std::size_t& start, std::size_t& end)
{
    for (start = 0; start < text.size(); start = end) {
        end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(start, name.size() + 1, name + ":") == 0)
            return true;
    }
    return false;
}

} // namespace

bool CTeacherAccounts::IsValidName(const std::string& name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && (i == 0 || (c != '.' && c != '_' && c != '-')))
            return false;
    }
    return true;
}

bool CTeacherAccounts::Read(std::string& text, std::string& error) const
{
    const WholeFileRead read = ReadWholeFile(m_path, kLargestAccountsFile, text);
    if (read.state == WholeFileRead::State::Loaded || read.state == WholeFileRead::State::Missing)
        return true;
    error = m_path + " cannot be read" + (read.error ? std::string(": ") + std::strerror(read.error) : std::string());
    return false;
}

std::string CTeacherAccounts::SetPassword(const std::string& name, const std::string& password)
{
    if (!IsValidName(name))
        return "a teacher's name has 1 to 32 of a-z, 0-9, \".\", \"_\" and \"-\", starting with a letter or digit";
    if (password.size() < 8 || password.size() > kLongestPassword)
        return "a password has 8 to 1024 characters";
    if (sodium_init() < 0)
        return "libsodium cannot start";
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return "out of memory while hashing the password";
    // A new file is private to its owner and group (the service's).
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd >= 0)
        ::close(fd);
    return ReplaceLine(name, name + ":" + hash + "\n");
}

std::string CTeacherAccounts::Remove(const std::string& name)
{
    return ReplaceLine(name, "");
}

std::string CTeacherAccounts::ReplaceLine(const std::string& name, const std::string& line)
{
    std::string text;
    std::string error;
    if (!Read(text, error))
        return error;
    std::size_t start = 0;
    std::size_t end = 0;
    if (IsValidName(name) && FindLine(text, name, start, end))
        text.erase(start, end - start);
    else if (line.empty())
        return "there is no teacher \"" + name + "\" in " + m_path;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    if (const int failure = ReplaceWholeFile(m_path, text + line))
        return m_path + " cannot be written: " + std::strerror(failure);
    return "";
}

bool CTeacherAccounts::Verify(const std::string& name, const std::string& password) const
{
    if (password.size() > kLongestPassword || sodium_init() < 0)
        return false;
    // An unknown name costs the same check as a known one, so the time of
    // the answer does not tell which names are teachers'.
    static const std::string s_unknownHash = [] {
        char hash[crypto_pwhash_STRBYTES] = {};
        const std::string random = RandomToken();
        // Without the memory for it, no hash: then an unknown name is simply refused.
        if (crypto_pwhash_str(hash, random.data(), random.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
            return std::string();
        return std::string(hash);
    }();
    std::string text;
    std::string error;
    std::size_t start = 0;
    std::size_t end = 0;
    const bool known = IsValidName(name) && Read(text, error) && FindLine(text, name, start, end);
    std::string hash = known ? text.substr(start + name.size() + 1, end - start - name.size() - 1) : s_unknownHash;
    if (!hash.empty() && hash.back() == '\n')
        hash.pop_back();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && known;
}

} // namespace kestrel
