#include "tools/AnnouncedFiles.h"

#include "base/ConsoleLine.h"

#include <algorithm>
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

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string InFolder(const std::string& folder, const char* name)
{
    return folder.empty() ? "" : folder + "/" + name;
}

} // namespace

CAnnouncedFiles::CAnnouncedFiles(const AnnounceOptions& options)
    : m_own(options.cataloguePath)
    , m_published(options.publishedPath, CCatalogueWatcher::WhenMissing::ForgetIt)
    , m_roomFolder(options.publishedPath.empty() ? "" : FolderOf(options.publishedPath))
    , m_timetable(InFolder(m_roomFolder, "timetable.ini"))
    , m_lessonFile(InFolder(m_roomFolder, "lesson.ini"), CCatalogueWatcher::WhenMissing::ForgetIt)
    , m_onAirFolder(options.onAirFolder)
{
}

const AnnouncedRecords* CAnnouncedFiles::Poll(std::int64_t nowMs)
{
    using Change = CCatalogueWatcher::Change;
    const Change own = Read(m_own, false);
    const Change published = Read(m_published, true);
    const bool publishedStandsIn = m_published.FileExists() && m_published.HasCatalogue();
    const CCatalogueWatcher* lesson = LessonSource(nowMs / 1000);
    const CCatalogueWatcher& source = lesson ? *lesson : publishedStandsIn ? m_published : m_own;
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
    else if (!lesson && source.HasCatalogue() && (publishedStandsIn ? published : own) == Change::Refused)
        PrintLine("still announcing the last valid catalogue");
    m_reportedLine = line;
    m_reportedText = source.Text();
    return source.HasCatalogue() ? &source.Catalogue() : nullptr;
}

std::int64_t CAnnouncedFiles::UntilTimetableChanges(std::int64_t nowMs) const
{
    constexpr std::int64_t kClockCheckMs = 1000;
    const std::int64_t next = m_lesson.nextChangeSeconds * 1000 - nowMs;
    return m_lesson.nextChangeSeconds == 0 ? kClockCheckMs : std::clamp<std::int64_t>(next, 0, kClockCheckMs);
}

// Computed again at every poll, never remembered: a restart in mid-slot or
// a clock step gives the same answer.
const CCatalogueWatcher* CAnnouncedFiles::LessonSource(std::int64_t nowSeconds)
{
    m_timetable.Poll();
    const Timetable& timetable = m_timetable.Slots();
    const std::optional<SlotOccurrence> running = SlotAt(timetable, nowSeconds);
    const TimetableSlot* slot = running ? m_timetable.Slot(running->slotId) : nullptr;
    m_lesson = TimetableLesson();
    m_lesson.lastEndSeconds = LastSlotEnd(timetable, nowSeconds);
    m_lesson.nextChangeSeconds = NextSlotChange(timetable, nowSeconds);
    if (!slot) {
        m_setFile.reset();
        return nullptr;
    }
    m_lesson.key = running->key;
    m_lesson.endSeconds = running->endSeconds;
    m_lesson.mode = slot->mode;
    const std::string setPath = m_roomFolder + "/" + slot->setFile;
    if (!m_setFile || m_setFile->Path() != setPath)
        m_setFile = std::make_unique<CCatalogueWatcher>(setPath, CCatalogueWatcher::WhenMissing::ForgetIt);
    Read(*m_setFile, false);
    Read(m_lessonFile, true);
    const CCatalogueWatcher* source = m_lessonFile.HasCatalogue() && IsLessonText(m_lessonFile.Text(), m_lesson.key)
        ? &m_lessonFile
        : m_setFile->HasCatalogue() ? m_setFile.get() : nullptr;
    if (source)
        m_lesson.hosts = SavedHosts(source->Text());
    return source;
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
    if (&source == &m_lessonFile)
        line += " (published during the lesson " + m_lesson.key + ")";
    else if (&source == m_setFile.get())
        line += " (the lesson " + m_lesson.key + "'s set)";
    else if (&source == &m_published)
        line += " (the published catalogue)";
    else if (!m_published.Path().empty())
        line += m_published.FileExists() ? " (the published file was refused)" : " (nothing is published)";
    if (!m_lesson.key.empty() && &source != &m_lessonFile && &source != m_setFile.get())
        line += ", as the lesson " + m_lesson.key + "'s set is not valid";
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
