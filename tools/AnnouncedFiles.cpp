#include "tools/AnnouncedFiles.h"

#include "base/ConsoleLine.h"

#include <cstring>

namespace kestrel {
namespace {

// "4 links and the home page"
std::string Holding(const AnnouncedRecords& records)
{
    int links = 0;
    bool home = false;
    for (int i = 0; i < records.count; ++i) {
        if (IsHomeRecord(records.records[i]))
            home = true;
        else
            ++links;
    }
    return std::to_string(links) + (links == 1 ? " link" : " links") + (home ? " and the home page" : "");
}

} // namespace

CAnnouncedFiles::CAnnouncedFiles(const AnnounceOptions& options)
    : m_own(options.cataloguePath)
    , m_published(options.publishedPath, CCatalogueWatcher::WhenMissing::ForgetIt)
    , m_onAirFolder(options.onAirFolder)
{
}

const AnnouncedRecords* CAnnouncedFiles::Poll()
{
    using Change = CCatalogueWatcher::Change;
    const Change own = Read(m_own, false);
    const Change published = Read(m_published, true);
    const bool publishedStandsIn = m_published.FileExists() && m_published.HasCatalogue();
    const CCatalogueWatcher& source = publishedStandsIn ? m_published : m_own;
    if (publishedStandsIn && own == Change::Loaded) {
        PrintLine(m_own.Path() + ": " + Holding(m_own.Catalogue()) + ", valid; not on the air while "
            + m_published.Path() + " is");
    }
    // Written before it is told, so that what the journal says is there to read.
    OnAir onAir;
    if (source.HasCatalogue()) {
        onAir.source = source.Path();
        onAir.text = source.Text();
    }
    if (m_published.FileExists())
        onAir.refused = m_published.Problem();
    WriteOnAir(onAir);
    const std::string line = OnAirLine(source);
    if (line != m_reportedLine || source.Text() != m_reportedText)
        PrintLine(line);
    else if (source.HasCatalogue() && (publishedStandsIn ? published : own) == Change::Refused)
        PrintLine("still announcing the last valid catalogue");
    m_reportedLine = line;
    m_reportedText = source.Text();
    return source.HasCatalogue() ? &source.Catalogue() : nullptr;
}

// A refusal is reported, but a published file that is missing is no
// fault: nothing has been published yet, or IT staff took it away to go
// back to their own file.
CCatalogueWatcher::Change CAnnouncedFiles::Read(CCatalogueWatcher& watcher, bool missingIsQuiet)
{
    if (watcher.Path().empty())
        return CCatalogueWatcher::Change::None;
    const CCatalogueWatcher::Change change = watcher.Poll();
    if (change == CCatalogueWatcher::Change::Refused && !(missingIsQuiet && !watcher.FileExists()))
        PrintLine(watcher.Problem());
    return change;
}

std::string CAnnouncedFiles::OnAirLine(const CCatalogueWatcher& source) const
{
    if (!source.HasCatalogue())
        return "nothing is announced until the catalogue is valid";
    std::string line = "on the air: " + source.Path();
    if (&source == &m_published)
        line += " (the published catalogue)";
    else if (!m_published.Path().empty())
        line += m_published.FileExists() ? " (the published file was refused)" : " (nothing is published)";
    return line + ": announcing " + Holding(source.Catalogue());
}

void CAnnouncedFiles::WriteOnAir(const OnAir& onAir)
{
    if (m_onAirFolder.Folder().empty())
        return;
    const int error = m_onAirFolder.Show(onAir);
    // A folder that cannot be written would repeat its error at every interval.
    if (error != 0 && error != m_onAirError)
        PrintLine("cannot write what is on the air into " + m_onAirFolder.Folder() + ": " + std::strerror(error));
    m_onAirError = error;
}

} // namespace kestrel
