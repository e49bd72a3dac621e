#include "publish/TeacherAccounts.h"

#include "base/WholeFile.h"
#include "publish/TeacherSessions.h"
#include "tools/RoomsFile.h"

#include <algorithm>
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

bool TeacherRooms::Controls(const std::string& id) const
{
    return every || std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string TeacherRooms::Text() const
{
    if (admin)
        return "*";
    std::string text;
    for (const std::string& id : ids)
        text += (text.empty() ? "" : ",") + id;
    return text;
}

bool TeacherRooms::Read(const std::string& text, TeacherRooms& rooms)
{
    rooms = TeacherRooms{};
    if (text == "*") {
        rooms.every = rooms.admin = true;
        return true;
    }
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t comma = text.find(',', start);
        comma = comma == std::string::npos ? text.size() : comma;
        const std::string id = text.substr(start, comma - start);
        if (!IsRoomId(id))
            return false;
        rooms.ids.push_back(id);
        start = comma + 1;
    }
    return true;
}

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
    std::string oldHash;
    std::string rooms;
    Fields(name, oldHash, rooms);
    return ReplaceLine(name, name + ":" + hash + (rooms.empty() ? "" : ":" + rooms) + "\n");
}

std::string CTeacherAccounts::SetRooms(const std::string& name, const std::string& rooms)
{
    TeacherRooms read;
    if (!TeacherRooms::Read(rooms, read))
        return "rooms are \"*\" (every room) or room ids like r302,r303, not \"" + rooms + "\"";
    std::string hash;
    std::string oldRooms;
    if (!Fields(name, hash, oldRooms))
        return "there is no teacher \"" + name + "\" in " + m_path;
    return ReplaceLine(name, name + ":" + hash + ":" + read.Text() + "\n");
}

bool CTeacherAccounts::Exists(const std::string& name) const
{
    std::string hash;
    std::string rooms;
    return Fields(name, hash, rooms);
}

TeacherRooms CTeacherAccounts::RoomsOf(const std::string& name) const
{
    std::string hash;
    std::string text;
    TeacherRooms rooms;
    if (!Fields(name, hash, text))
        return rooms;
    if (text.empty())
        rooms.every = true;
    else if (!TeacherRooms::Read(text, rooms))
        rooms = TeacherRooms{}; // a line mended wrongly by hand controls nothing
    return rooms;
}

bool CTeacherAccounts::Fields(const std::string& name, std::string& hash, std::string& rooms) const
{
    std::string text;
    std::string error;
    std::size_t start = 0;
    std::size_t end = 0;
    if (!IsValidName(name) || !Read(text, error) || !FindLine(text, name, start, end))
        return false;
    std::string line = text.substr(start + name.size() + 1, end - start - name.size() - 1);
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    // argon2id's hash holds no ":".
    const std::size_t colon = line.find(':');
    hash = line.substr(0, colon);
    rooms = colon == std::string::npos ? "" : line.substr(colon + 1);
    return true;
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
    std::string hash;
    std::string rooms;
    const bool known = Fields(name, hash, rooms);
    if (!known)
        hash = s_unknownHash;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0 && known;
}

} // namespace kestrel
