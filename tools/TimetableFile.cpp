#include "tools/TimetableFile.h"

#include "base/ConsoleLine.h"
#include "base/WholeFile.h"

#include <cstring>

namespace kestrel {

std::string SavedHosts(const std::string& text)
{
    const std::string lead = kSavedHostsLead;
    for (std::size_t start = 0; start < text.size() && text[start] == '#';) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (text.compare(start, lead.size(), lead) == 0)
            return text.substr(start + lead.size(), end - start - lead.size());
        start = end + 1;
    }
    return "";
}

bool IsLessonText(const std::string& text, const std::string& key)
{
    const std::string line = kLessonLead + key + "\n";
    return !key.empty() && text.compare(0, line.size(), line) == 0;
}

bool StateHolds(const PublishedState& state, const std::string& lessonKey, std::int64_t lastEndSeconds)
{
    return lessonKey.empty() ? state.lesson.empty() && state.setAtSeconds >= lastEndSeconds : state.lesson == lessonKey;
}

void CTimetableFile::Poll()
{
    if (m_path.empty())
        return;
    std::string text;
    const WholeFileRead read = ReadWholeFile(m_path, kLargestFile, text);
    // A file that cannot be read now keeps the slots read last.
    if (read.state != WholeFileRead::State::Loaded && read.state != WholeFileRead::State::Missing)
        text = m_text;
    if (m_read && text == m_text)
        return;
    const bool first = !m_read;
    m_read = true;
    m_text = text;
    std::vector<std::string> problems;
    ParseTimetable(text, m_timetable, problems);
    for (const std::string& problem : problems)
        PrintLine(m_path + ":" + problem);
    if (!first || !m_timetable.slots.empty())
        PrintLine(m_path + ": " + std::to_string(m_timetable.slots.size()) + " slots in the timetable");
}

const TimetableSlot* CTimetableFile::Slot(int id) const
{
    for (const TimetableSlot& slot : m_timetable.slots) {
        if (slot.id == id)
            return &slot;
    }
    return nullptr;
}

} // namespace kestrel
