#pragma once

#include <cstdint>
#include <memory>
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
// link, as /var/lib/kestrel does under a dynamic user) and kept open; no
// link below it is ever followed. When a file is missing and the folder
// is no longer the one at its path (taken away, or made anew by a purge and
// a new install), it is looked for again.
class CServedFolder {
public:
    // Says so, once, when the folder is missing.
    explicit CServedFolder(FolderToServe folder);
    ~CServedFolder();

    const std::string& UrlPrefix() const { return m_folder.urlPrefix; }
    // Opens a regular file at `relativePath` below the folder for reading,
    // with its size; -1 when there is none (or the path leaves the folder,
    // or goes through a link).
    int OpenFile(const std::string& relativePath, std::uint64_t& size);

private:
    struct Handle;

    // The open folder, opening it first when needed; null while missing.
    std::shared_ptr<const Handle> Folder();
    bool IsStillAtItsPath(const Handle& handle) const;
    void Forget(const std::shared_ptr<const Handle>& handle);

    const FolderToServe m_folder;
    std::mutex m_mutex;
    std::shared_ptr<const Handle> m_handle;
    bool m_missingReported = false;
};

} // namespace kestrel
