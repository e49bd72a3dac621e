#include "publish/PublishStore.h"

#include "base/ConsoleLine.h"
#include "base/StateFolder.h"
#include "base/WholeFile.h"
#include "publish/ClassroomStateFile.h"
#include "tools/TimetableFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <sodium.h>
#include <unistd.h>

namespace kestrel {
namespace {

constexpr std::size_t kLargestCatalogue = 1 << 20;
// As the announcer reads it.
constexpr std::size_t kLargestStateFile = 16 * 1024;
constexpr std::size_t kHistoryShown = 100;
constexpr std::size_t kLongestSetName = 64;
// A history file's first line names the lesson set it came from; the
// announcer's reader skips it as a comment.
constexpr const char* kSetLine = "# set: ";

std::vector<std::string> FileNames(const std::string& folder, const std::string& ending)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
                names.push_back(name.substr(0, name.size() - ending.size()));
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Hex(const std::string& bytes)
{
    std::string hex(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    hex.pop_back();
    return hex;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes(hex.size() / 2, '\0');
    std::size_t length = 0;
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), hex.data(), hex.size(), nullptr,
            &length, nullptr) != 0)
        return "";
    bytes.resize(length);
    return bytes;
}

// History ids are "<milliseconds>-<teacher>"; anything else names no file.
bool IsHistoryId(const std::string& id)
{
    const std::size_t dash = id.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 19)
        return false;
    for (std::size_t i = 0; i < dash; ++i) {
        if (id[i] < '0' || id[i] > '9')
            return false;
    }
    for (std::size_t i = dash + 1; i < id.size(); ++i) {
        const char c = id[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'))
            return false;
    }
    return id.size() > dash + 1;
}

// The value of the line "KEY=VALUE" in `text`; empty when there is none.
std::string LineValue(const std::string& text, const std::string& key)
{
    const std::string lead = key + "=";
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (text.compare(start, lead.size(), lead) == 0)
            return text.substr(start + lead.size(), end - start - lead.size());
        start = end + 1;
    }
    return "";
}

std::string SetNameOf(const std::string& historyText)
{
    const std::size_t lead = std::char_traits<char>::length(kSetLine);
    if (historyText.compare(0, lead, kSetLine) != 0)
        return "";
    return historyText.substr(lead, historyText.find('\n') - lead);
}

std::int64_t NowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The set's file relative to the folder, as the timetable names it.
std::string SetFile(const std::string& name)
{
    return "sets/" + Hex(name) + ".ini";
}

std::string WriteProblem(int error)
{
    return std::string("无法写入状态文件夹：") + std::strerror(error);
}

} // namespace

std::string CPublishStore::Open()
{
    for (const std::string& folder : {m_folder, m_picturesFolder, m_folder + "/history", m_folder + "/sets"}) {
        if (const int error = MakeFolders(folder))
            return "cannot make " + folder + ": " + std::strerror(error);
    }
    const std::string stateFolder = m_statePath.substr(0, m_statePath.rfind('/') + 1);
    if (const int error = stateFolder.empty() ? 0 : MakeFolders(stateFolder))
        return "cannot make " + stateFolder + ": " + std::strerror(error);
    std::string text;
    std::string problem;
    ReadWholeFile(m_statePath, kLargestStateFile, text);
    // A file mended by hand is the announcer's to refuse; the page starts
    // open and writes it anew at the next change.
    if (!ParsePublishedState(text, m_classroom, problem))
        PrintLine(m_statePath + ": " + problem + "; the page starts from the mode open");
    return "";
}

std::string CPublishStore::ReadInFolder(const std::string& path) const
{
    std::string text;
    ReadWholeFile(path, kLargestCatalogue, text);
    return text;
}

std::string CPublishStore::WriteState(const PublishedState& state)
{
    if (const int error = ReplaceWholeFile(m_statePath, PublishedStateText(state)))
        return WriteProblem(error);
    m_classroom = state;
    return "";
}

std::string CPublishStore::PublishEdit(const CatalogueEdit& edit, const std::string& user, const std::string& set)
{
    if (const std::string problem = CheckCatalogueEdit(edit); !problem.empty())
        return problem;
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    const std::optional<SlotOccurrence> lesson = RunningLesson(now / 1000);
    std::lock_guard<std::mutex> lock(m_mutex);
    // The history first: a publish that is announced is always in it.
    const std::string named = IsSetName(set) ? kSetLine + set + "\n" : "";
    if (const int error = ReplaceWholeFile(HistoryPath(std::to_string(now) + "-" + user), named + SavedEditText(edit)))
        return WriteProblem(error);
    // During a slot the standing catalogue stays for the slot's end.
    const int error = lesson ? ReplaceWholeFile(LessonPath(), kLessonLead + lesson->key + "\n" + SavedEditText(edit))
                             : ReplaceWholeFile(m_cataloguePath, CatalogueEditText(edit));
    if (error != 0)
        return WriteProblem(error);
    // The state after the catalogue it goes with.
    PublishedState state = StateOnTheAir(now / 1000);
    state.hosts = edit.hosts;
    state.lesson = lesson ? lesson->key : "";
    state.setAtSeconds = now / 1000;
    return WriteState(state);
}

std::string CPublishStore::SetMode(ClassroomMode mode, const std::string& message, int minutes, std::int64_t nowSeconds,
    bool untilLessonEnd)
{
    const std::optional<SlotOccurrence> lesson = RunningLesson(nowSeconds);
    if (untilLessonEnd && (!lesson || mode == ClassroomMode::Open))
        return lesson ? "“到本节课结束”只用于仅本课和暂停" : "现在没有课，请选择分钟数";
    std::lock_guard<std::mutex> lock(m_mutex);
    PublishedState state = StateOnTheAir(nowSeconds);
    if (const std::string problem = PressModeButton(state, mode, message, untilLessonEnd ? 0 : minutes, nowSeconds);
        !problem.empty())
        return problem;
    if (untilLessonEnd && mode == ClassroomMode::Paused)
        state.pauseUntilSeconds = lesson->endSeconds;
    state.lesson = lesson ? lesson->key : "";
    state.setAtSeconds = nowSeconds;
    return WriteState(state);
}

PublishedState CPublishStore::Classroom() const
{
    return ClassroomAt(NowSeconds());
}

PublishedState CPublishStore::ClassroomAt(std::int64_t nowSeconds) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return StateOnTheAir(nowSeconds);
}

// As the announcer chooses it (CAnnouncedState).
PublishedState CPublishStore::StateOnTheAir(std::int64_t nowSeconds) const
{
    const Timetable timetable = ReadTimetable();
    const std::optional<SlotOccurrence> lesson = SlotAt(timetable, nowSeconds);
    if (StateHolds(m_classroom, lesson ? lesson->key : "", lesson ? 0 : LastSlotEnd(timetable, nowSeconds)))
        return m_classroom;
    PublishedState state;
    // Pause numbers only grow.
    state.pauseId = m_classroom.pauseId;
    for (const TimetableSlot& slot : timetable.slots) {
        CatalogueEdit set;
        if (lesson && slot.id == lesson->slotId && ReadCatalogueEdit(ReadInFolder(m_folder + "/" + slot.setFile), set)) {
            state.mode = slot.mode;
            state.hosts = set.hosts;
        }
    }
    return state;
}

Timetable CPublishStore::ReadTimetable() const
{
    Timetable timetable;
    std::vector<std::string> problems;
    ParseTimetable(ReadInFolder(TimetablePath()), timetable, problems);
    return timetable;
}

std::optional<SlotOccurrence> CPublishStore::RunningLesson(std::int64_t nowSeconds) const
{
    return SlotAt(ReadTimetable(), nowSeconds);
}

std::string CPublishStore::ChangeTimetable(const std::function<std::string(Timetable&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Timetable timetable = ReadTimetable();
    if (std::string problem = change(timetable); !problem.empty())
        return problem;
    if (const int error = ReplaceWholeFile(TimetablePath(), TimetableText(timetable)))
        return WriteProblem(error);
    return "";
}

std::string CPublishStore::SaveSlot(TimetableSlot slot, std::string* field)
{
    std::string ignored;
    std::string& place = field ? *field : ignored;
    CatalogueEdit set;
    place = "set";
    if (!IsSetName(slot.set) || !ReadCatalogueEdit(ReadInFolder(SetPath(slot.set)), set))
        return "没有这个课程";
    place = "";
    slot.setFile = SetFile(slot.set);
    return ChangeTimetable([&](Timetable& timetable) -> std::string {
        const bool added = slot.id == 0;
        for (const TimetableSlot& kept : timetable.slots)
            slot.id = added ? std::max(slot.id, kept.id) : slot.id;
        slot.id += added ? 1 : 0;
        const auto same = std::find_if(timetable.slots.begin(), timetable.slots.end(),
            [&](const TimetableSlot& kept) { return kept.id == slot.id; });
        if (!added && same == timetable.slots.end())
            return "课表中没有这节课";
        if (!added)
            slot.offWeek = same->offWeek;
        if (std::string problem = TimetableOverlap(timetable, slot); !problem.empty()) {
            place = slot.days == 0 ? "days" : "start";
            return problem;
        }
        if (same == timetable.slots.end())
            timetable.slots.push_back(slot);
        else
            *same = slot;
        return "";
    });
}

std::string CPublishStore::DeleteSlot(int id)
{
    return ChangeTimetable([&](Timetable& timetable) -> std::string {
        const auto kept = std::remove_if(timetable.slots.begin(), timetable.slots.end(),
            [&](const TimetableSlot& slot) { return slot.id == id; });
        if (kept == timetable.slots.end())
            return "课表中没有这节课";
        timetable.slots.erase(kept, timetable.slots.end());
        return "";
    });
}

std::string CPublishStore::SwitchOffThisWeek(int id, bool off, std::int64_t nowSeconds)
{
    return ChangeTimetable([&](Timetable& timetable) -> std::string {
        for (TimetableSlot& slot : timetable.slots) {
            if (slot.id == id) {
                slot.offWeek = off ? IsoWeekAt(nowSeconds) : "";
                return "";
            }
        }
        return "课表中没有这节课";
    });
}

std::string CPublishStore::Version(const std::string& id, CatalogueEdit& edit) const
{
    if (!IsHistoryId(id) || !ReadCatalogueEdit(ReadInFolder(HistoryPath(id)), edit))
        return "历史中没有这个版本";
    return "";
}

std::string CPublishStore::Republish(const std::string& id, const std::string& user)
{
    CatalogueEdit edit;
    const std::string problem = Version(id, edit);
    return problem.empty() ? PublishEdit(edit, user, SetNameOf(ReadInFolder(HistoryPath(id)))) : problem;
}

bool CPublishStore::IsSetName(const std::string& name)
{
    return !name.empty() && name.size() <= kLongestSetName && name.find_first_of("\r\n\t") == std::string::npos;
}

std::string CPublishStore::SetPath(const std::string& name) const
{
    return m_folder + "/" + SetFile(name);
}

std::string CPublishStore::SaveSet(const std::string& name, const CatalogueEdit& edit)
{
    if (!IsSetName(name))
        return "课程名称要有 1 到 20 个字，不能换行";
    const std::string problem = CheckCatalogueEdit(edit);
    if (!problem.empty())
        return problem;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const int error = ReplaceWholeFile(SetPath(name), SavedEditText(edit)))
        return WriteProblem(error);
    return "";
}

std::string CPublishStore::PublishSet(const std::string& name, const std::string& user)
{
    CatalogueEdit edit;
    if (!IsSetName(name) || !ReadCatalogueEdit(ReadInFolder(SetPath(name)), edit))
        return "没有这个课程";
    return PublishEdit(edit, user, name);
}

std::string CPublishStore::DeleteSet(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsSetName(name))
        return "没有这个课程";
    // A slot without its set would put the standing catalogue on the air at
    // its start, with no word to the teacher.
    const Timetable timetable = ReadTimetable();
    const std::string setFile = SetFile(name);
    if (std::any_of(timetable.slots.begin(), timetable.slots.end(),
            [&](const TimetableSlot& slot) { return slot.setFile == setFile; }))
        return "课表中还有这个课程的课，请先在课表中换掉或删除它们";
    if (::unlink(SetPath(name).c_str()) != 0)
        return "没有这个课程";
    return "";
}

std::string CPublishStore::SavePicture(const std::string& bmp, std::string& fileName)
{
    unsigned char digest[16];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(bmp.data()), bmp.size(), nullptr,
        0);
    fileName = Hex(std::string(reinterpret_cast<const char*>(digest), sizeof digest)) + ".bmp";
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const int error = ReplaceWholeFile(PicturesFolder() + "/" + fileName, bmp))
        return WriteProblem(error);
    return "";
}

CPublishStore::OnAir CPublishStore::WhatIsOnAir() const
{
    OnAir onAir;
    if (!m_onAirFolder.empty()) {
        const std::string status = ReadInFolder(m_onAirFolder + "/on-air.status");
        onAir.source = LineValue(status, "source");
        onAir.refusal = LineValue(status, "refused");
        if (!onAir.source.empty() && ReadCatalogueEdit(ReadInFolder(m_onAirFolder + "/on-air.ini"), onAir.edit)) {
            onAir.edit.hosts = Classroom().hosts;
            return onAir;
        }
    }
    // Without the announcer's word: the running lesson's, as it chooses it.
    std::vector<std::string> sources;
    const std::int64_t now = NowSeconds();
    const Timetable timetable = ReadTimetable();
    if (const std::optional<SlotOccurrence> lesson = SlotAt(timetable, now)) {
        const auto slot = std::find_if(timetable.slots.begin(), timetable.slots.end(),
            [&](const TimetableSlot& each) { return each.id == lesson->slotId; });
        sources.push_back(IsLessonText(ReadInFolder(LessonPath()), lesson->key) ? LessonPath()
                                                                                : m_folder + "/" + slot->setFile);
    }
    sources.insert(sources.end(), {m_cataloguePath, m_firstCataloguePath});
    for (const std::string& source : sources) {
        onAir.source = source;
        if (ReadCatalogueEdit(ReadInFolder(source), onAir.edit))
            break;
    }
    onAir.edit.hosts = ClassroomAt(now).hosts;
    return onAir;
}

std::vector<CPublishStore::Publish> CPublishStore::History() const
{
    std::vector<Publish> history;
    const std::string onAirText = SavedEditText(WhatIsOnAir().edit);
    bool anyOnAir = false;
    std::vector<std::string> ids = FileNames(m_folder + "/history", ".ini");
    // Newest first; equal-length millisecond stamps sort as numbers.
    std::sort(ids.begin(), ids.end(), [](const std::string& a, const std::string& b) {
        const std::size_t da = a.find('-');
        const std::size_t db = b.find('-');
        return da != db ? da > db : a > b;
    });
    for (const std::string& id : ids) {
        if (history.size() == kHistoryShown)
            break;
        if (!IsHistoryId(id))
            continue;
        const std::size_t dash = id.find('-');
        const std::string text = ReadInFolder(HistoryPath(id));
        CatalogueEdit edit;
        ReadCatalogueEdit(text, edit);
        Publish publish{id, id.substr(dash + 1), std::stoll(id.substr(0, dash)), SetNameOf(text), {}};
        for (const CatalogueEdit::Link& link : edit.links)
            publish.names.push_back(link.name);
        publish.onAir = !anyOnAir && SavedEditText(edit) == onAirText;
        anyOnAir = anyOnAir || publish.onAir;
        history.push_back(std::move(publish));
    }
    return history;
}

std::vector<CPublishStore::LessonSet> CPublishStore::Sets() const
{
    std::vector<LessonSet> sets;
    for (const std::string& hex : FileNames(m_folder + "/sets", ".ini")) {
        LessonSet set{FromHex(hex), {}};
        if (!set.name.empty() && ReadCatalogueEdit(ReadInFolder(m_folder + "/sets/" + hex + ".ini"), set.edit))
            sets.push_back(std::move(set));
    }
    return sets;
}

} // namespace kestrel
