#pragma once

#include "tools/AnnouncedRecords.h"
#include "tools/CatalogueParser.h"

#include <cerrno>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace kestrel {

// Follows one catalogue file while it is announced, so a teacher can edit
// links during lessons. The file is read again whenever its identity, size
// or modification time changed; an edit that breaks it is refused and the
// last valid catalogue stays in force.
class CCatalogueWatcher {
public:
    enum class Change { None, Loaded, Refused };

    // Larger files are refused unread: twenty links fit in a few kilobytes.
    static constexpr long kLargestFile = 1 << 20;

    explicit CCatalogueWatcher(std::string path) : m_path(std::move(path)) {}

    Change Poll();

    bool HasCatalogue() const { return m_hasCatalogue; }
    // Whether the last poll found a file at the path at all.
    bool FileExists() const { return m_looked && m_stamp.error != ENOENT; }
    // The last valid catalogue.
    const AnnouncedRecords& Catalogue() const { return m_catalogue; }
    // Why the last changed file was refused, naming the file and line.
    const std::string& Problem() const { return m_problem; }

private:
    struct FileStamp {
        int error = 0;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified = {};
        bool operator==(const FileStamp& other) const;
    };

    FileStamp Stamp() const;
    bool ReadFile(std::string& text, CatalogueProblem& problem) const;
    Change Refuse(const CatalogueProblem& problem);

    std::string m_path;
    bool m_looked = false;
    FileStamp m_stamp;
    CCatalogueParser m_parser;
    AnnouncedRecords m_candidate;
    AnnouncedRecords m_catalogue;
    bool m_hasCatalogue = false;
    std::string m_problem;
};

} // namespace kestrel
