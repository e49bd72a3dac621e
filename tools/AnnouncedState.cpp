#include "tools/AnnouncedState.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "base/WholeFile.h"
#include "channel/ClassroomStateFrame.h"
#include "tools/ClassroomStateText.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

constexpr std::int64_t kMillisecondsPerMinute = 60000;

void CopyText(const std::string& text, char* field, std::size_t size)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

} // namespace

CAnnouncedState::CAnnouncedState(const AnnounceOptions& options, std::int64_t nowMs)
    : m_validFor(static_cast<std::uint32_t>(options.validForSeconds))
    , m_publishedPath(options.publishedStatePath)
{
    for (const std::string& skipped : options.skippedHosts)
        PrintLine(skipped);
    m_options.hosts = options.allowedHosts;
    m_options.message = options.pauseMessage;
    m_options.mode = options.classroomMode;
    if (options.pauseMinutes > 0) {
        m_options.afterPause = options.classroomMode;
        m_options.mode = ClassroomMode::Paused;
        m_options.pauseUntilSeconds = (nowMs + options.pauseMinutes * kMillisecondsPerMinute) / 1000;
    }
    // A pause started now has a number no earlier run has used.
    m_options.pauseId = static_cast<std::uint32_t>(nowMs / 1000);
}

bool CAnnouncedState::Poll(std::int64_t nowMs, const TimetableLesson& lesson)
{
    if (!m_publishedPath.empty())
        ReadPublished();
    Follow(lesson);
    const std::string line = Line(nowMs);
    if (line == m_reportedLine)
        return false;
    PrintLine(line);
    m_reportedLine = line;
    return true;
}

// The text is compared, not the file's times: the page replaces the file
// by a rename, and the same state written again is no change.
void CAnnouncedState::ReadPublished()
{
    std::string text;
    const WholeFileRead read = ReadWholeFile(m_publishedPath, kLargestFile, text);
    const bool firstRead = !m_publishedRead;
    m_publishedRead = true;
    if (read.state == WholeFileRead::State::Missing) {
        m_publishedValid = false;
        m_publishedText.clear();
        return;
    }
    if (read.state != WholeFileRead::State::Loaded || text == m_publishedText)
        return;
    m_publishedText = text;
    PublishedState published;
    std::string problem;
    if (!ParsePublishedState(text, published, problem)) {
        PrintLine(m_publishedPath + ": " + problem + (m_publishedValid ? "; the last valid state stays on the air" : ""));
        return;
    }
    std::vector<std::string> skipped;
    published.hosts = AllowedHostsText(published.hosts, skipped);
    for (const std::string& line : skipped)
        PrintLine(m_publishedPath + ": " + line);
    m_published = published;
    // A pause with no end would otherwise outlive the teacher who started
    // it: a restart of the announcer ends it.
    if (firstRead && published.mode == ClassroomMode::Paused && published.pauseUntilSeconds == 0) {
        m_published.mode = published.afterPause;
        PrintLine(m_publishedPath + ": a pause without an end is not taken up again after a start");
    }
    m_publishedValid = true;
}

void CAnnouncedState::Follow(const TimetableLesson& lesson)
{
    m_lessonKey = lesson.key;
    if (!lesson.key.empty()) {
        m_source = m_publishedValid && StateHolds(m_published, lesson.key, 0) ? Source::Published : Source::Lesson;
        m_lesson.mode = lesson.mode;
        if (lesson.hosts != m_lessonHosts) {
            std::vector<std::string> skipped;
            m_lesson.hosts = AllowedHostsText(lesson.hosts, skipped);
            for (const std::string& line : skipped)
                PrintLine("the lesson " + lesson.key + "'s set: " + line);
            m_lessonHosts = lesson.hosts;
        }
    } else if (m_publishedValid) {
        m_source = StateHolds(m_published, "", lesson.lastEndSeconds) ? Source::Published : Source::LessonEnded;
    } else {
        m_source = Source::Options;
    }
}

const CAnnouncedState::Settings& CAnnouncedState::InForce() const
{
    switch (m_source) {
    case Source::Published:
        return m_published;
    case Source::Lesson:
        return m_lesson;
    case Source::LessonEnded:
        return m_lessonEnded;
    case Source::Options:
        break;
    }
    return m_options;
}

ClassroomMode CAnnouncedState::ModeAt(std::int64_t nowMs) const
{
    const Settings& settings = InForce();
    if (settings.mode == ClassroomMode::Paused && settings.pauseUntilSeconds != 0 && nowMs >= PauseEndMs())
        return settings.afterPause;
    return settings.mode;
}

std::int64_t CAnnouncedState::UntilPauseEnds(std::int64_t nowMs) const
{
    if (ModeAt(nowMs) != ClassroomMode::Paused || InForce().pauseUntilSeconds == 0)
        return -1;
    return PauseEndMs() - nowMs;
}

ClassroomState CAnnouncedState::Build(const AnnouncedRecords& catalogue, std::int64_t nowMs) const
{
    const Settings& settings = InForce();
    ClassroomState state;
    state.mode = ModeAt(nowMs);
    state.validForSeconds = m_validFor;
    // The address stays 0: the screens answer the state's sender.
    state.reportPort = m_reportPort;
    const LinkRecord* home = nullptr;
    const LinkRecord* listed[kMaxLinks] = {};
    for (int i = 0; i < catalogue.count; ++i) {
        const LinkRecord& record = catalogue.records[i];
        if (IsHomeRecord(record)) {
            home = &record;
        } else if (state.linkCount < kMaxLinks) {
            listed[state.linkCount] = &record;
            state.nameHashes[state.linkCount++] = HashLinkName(FieldText(record.name));
        }
    }
    state.hasHome = home != nullptr;
    state.digest = DigestCatalogue(home, listed, state.linkCount);
    const std::int64_t left = UntilPauseEnds(nowMs);
    // Rounded up: the last second is never read as "no countdown".
    if (left > 0)
        state.pauseCountdownSeconds = static_cast<std::uint32_t>(
            std::min<std::int64_t>((left + 999) / 1000, kLongestPauseCountdown));
    if (state.mode == ClassroomMode::Paused) {
        state.pauseId = settings.pauseId;
        CopyText(settings.message, state.pauseMessage, sizeof state.pauseMessage);
    }
    CopyText(settings.hosts, state.extraHosts, sizeof state.extraHosts);
    return state;
}

std::string CAnnouncedState::Line(std::int64_t nowMs) const
{
    const Settings& settings = InForce();
    const ClassroomMode mode = ModeAt(nowMs);
    std::string line = std::string("classroom state: ") + ClassroomModeWord(mode);
    if (mode == ClassroomMode::Paused) {
        line += " \"" + GbkToUtf8(settings.message) + "\"";
        if (settings.pauseUntilSeconds != 0)
            line += " until " + std::to_string(settings.pauseUntilSeconds) + " (seconds since 1970), then "
                + ClassroomModeWord(settings.afterPause);
    }
    if (mode == ClassroomMode::LessonOnly)
        line += settings.hosts.empty() ? ", no extra hosts" : ", extra hosts: " + settings.hosts;
    switch (m_source) {
    case Source::Published:
        return line + " (published in " + m_publishedPath + (m_lessonKey.empty() ? ")" : " for the lesson " + m_lessonKey + ")");
    case Source::Lesson:
        return line + " (the timetable's lesson " + m_lessonKey + ")";
    case Source::LessonEnded:
        return line + " (the last lesson of the timetable ended after " + m_publishedPath + " was written)";
    case Source::Options:
        break;
    }
    return line + " (from the options)";
}

} // namespace kestrel
