#pragma once

#include "tools/AnnounceOptions.h"
#include "tools/AnnouncedRecords.h"
#include "tools/CatalogueWatcher.h"
#include "tools/OnAirFolder.h"

#include <string>

namespace kestrel {

// The file IT staff keep and the one the teachers publish, which stands in
// for it while it exists and holds a valid catalogue. The journal says at
// every change which of them is on the air and what it holds; the on-air
// folder, when there is one, says the same to the publishing page.
class CAnnouncedFiles {
public:
    explicit CAnnouncedFiles(const AnnounceOptions& options);

    // Reads what changed and reports it; the catalogue to send, or null
    // while none is valid.
    const AnnouncedRecords* Poll();

private:
    static CCatalogueWatcher::Change Read(CCatalogueWatcher& watcher, bool missingIsQuiet);
    std::string OnAirLine(const CCatalogueWatcher& source) const;
    void WriteOnAir(const OnAir& onAir);

    CCatalogueWatcher m_own;
    CCatalogueWatcher m_published;
    COnAirFolder m_onAirFolder;
    std::string m_reportedLine;
    std::string m_reportedText;
    int m_onAirError = 0;
};

} // namespace kestrel
