#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace kestrel {

// A folder and the path it is served under: "/" for the school's pages,
// "/pictures/" for the pictures the teachers' page writes.
struct FolderToServe {
    std::string urlPrefix;
    std::string directory;
};

// One served folder. Its own path is resolved once (it may lie behind a
// link, as /var/lib/kestrel does under a dynamic user), and again only
// after it went missing; no link below it is ever followed.
class CServedFolder {
public:
    // Says so, once, when the folder is missing.
    explicit CServedFolder(FolderToServe folder);

    const std::string& UrlPrefix() const { return m_folder.urlPrefix; }
    // Opens a regular file at `relativePath` below the folder for reading,
    // with its size; -1 when there is none (or the path leaves the folder,
    // or goes through a link).
    int OpenFile(const std::string& relativePath, std::uint64_t& size);

private:
    // The resolved path, resolving it first when needed; empty while the
    // folder is missing.
    std::string Resolved();
    void Forget(const std::string& resolved);

    const FolderToServe m_folder;
    std::mutex m_mutex;
    std::string m_resolved;
    bool m_missingReported = false;
};

} // namespace kestrel
