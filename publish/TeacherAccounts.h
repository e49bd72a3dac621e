#pragma once

#include <string>

namespace kestrel {

// The teachers' accounts file, one "name:hash" line each, where the hash is
// libsodium's crypto_pwhash_str (argon2id): a stolen file gives no
// password back without a costly search for each. IT staff manage it on the
// command line; the page only reads it.
class CTeacherAccounts {
public:
    explicit CTeacherAccounts(std::string path) : m_path(std::move(path)) {}

    // Letters a-z, digits, ".", "_" and "-", at most 32, starting with a
    // letter or digit: safe in file names, logs and the page.
    static bool IsValidName(const std::string& name);

    // Adds the teacher or gives them a new password. Returns "" or why not.
    std::string SetPassword(const std::string& name, const std::string& password);
    // Returns "" or why not (no such teacher, the file cannot be written).
    std::string Remove(const std::string& name);
    // Reads the file afresh, so a removed teacher cannot sign in again.
    bool Verify(const std::string& name, const std::string& password) const;

private:
    bool Read(std::string& text, std::string& error) const;
    // Drops the teacher's line, if any, and adds `line` (empty: none; then
    // the teacher must have been there).
    std::string ReplaceLine(const std::string& name, const std::string& line);

    std::string m_path;
};

} // namespace kestrel
