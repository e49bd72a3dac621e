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
// or modification time changed; a save that changed nothing is no change,
// and an edit that breaks it is refused and the last valid catalogue stays
// in force.
class CCatalogueWatcher {
public:
    enum class Change { None, Loaded, Refused };
    // Whether the last valid catalogue outlives its file: IT staff's own
    // file does, so a slip in the shell does not empty the classroom; a
    // published file taken away is a return to IT staff's own.
    enum class WhenMissing { KeepTheCatalogue, ForgetIt };

    // Larger files are refused unread: twenty links fit in a few kilobytes.
    static constexpr long kLargestFile = 1 << 20;

    explicit CCatalogueWatcher(std::string path, WhenMissing whenMissing = WhenMissing::KeepTheCatalogue)
        : m_path(std::move(path)), m_whenMissing(whenMissing)
    {
    }

    Change Poll();

    bool HasCatalogue() const { return m_hasCatalogue; }
    // Whether the last poll found a file at the path at all.
    bool FileExists() const { return m_looked && m_stamp.error != ENOENT; }
    // The last valid catalogue, and its file's text as it was read.
    const AnnouncedRecords& Catalogue() const { return m_catalogue; }
    const std::string& Text() const { return m_text; }
    const std::string& Path() const { return m_path; }
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
    WhenMissing m_whenMissing;
    bool m_looked = false;
    FileStamp m_stamp;
    CCatalogueParser m_parser;
    AnnouncedRecords m_candidate;
    AnnouncedRecords m_catalogue;
    std::string m_text;
    bool m_hasCatalogue = false;
    std::string m_problem;
};

} // namespace kestrel
