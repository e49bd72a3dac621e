#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The rooms a teacher may control: "*" (an admin: every room, and the wall
// of all rooms' views) or room ids "r302,r303". A line from before rooms,
// without the field, controls every room but is no admin's.
struct TeacherRooms {
    bool every = false;
    bool admin = false;
    std::vector<std::string> ids;

    bool Controls(const std::string& id) const;
    // "*", "r302,r303" or "" (the old line's).
    std::string Text() const;
    // Reads "*" or a comma list of room ids; false when it is neither.
    static bool Read(const std::string& text, TeacherRooms& rooms);
};

// The teachers' accounts file, one "name:hash:rooms" line each, where the
// hash is libsodium's crypto_pwhash_str (argon2id): a stolen file gives no
// password back without a costly search for each. IT staff manage it on the
// command line; the page only reads it.
class CTeacherAccounts {
public:
    explicit CTeacherAccounts(std::string path) : m_path(std::move(path)) {}

    // Letters a-z, digits, ".", "_" and "-", at most 32, starting with a
    // letter or digit: safe in file names, logs and the page.
    static bool IsValidName(const std::string& name);

    // Adds the teacher or gives them a new password; their rooms stay.
    // Returns "" or why not.
    std::string SetPassword(const std::string& name, const std::string& password);
    // Gives the teacher these rooms ("*" or "r302,r303"); the password stays.
    // Returns "" or why not (no such teacher, no such list).
    std::string SetRooms(const std::string& name, const std::string& rooms);
    bool Exists(const std::string& name) const;
    // Read afresh at every request, so rooms taken away are at once; none
    // for an unknown teacher.
    TeacherRooms RoomsOf(const std::string& name) const;
    // Returns "" or why not (no such teacher, the file cannot be written).
    std::string Remove(const std::string& name);
    // Reads the file afresh, so a removed teacher cannot sign in again.
    bool Verify(const std::string& name, const std::string& password) const;

private:
    bool Read(std::string& text, std::string& error) const;
    // The teacher's hash and rooms fields; false when there is no such teacher.
    bool Fields(const std::string& name, std::string& hash, std::string& rooms) const;
    // Drops the teacher's line, if any, and adds `line` (empty: none; then
    // the teacher must have been there).
    std::string ReplaceLine(const std::string& name, const std::string& line);

    std::string m_path;
};

} // namespace kestrel
