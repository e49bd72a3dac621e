#pragma once

#include "publish/CatalogueEdit.h"
#include "tools/PublishedState.h"
#include "tools/Timetable.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// The state folder the page shares with the announcer:
//   catalogue.ini   the published catalogue, which the announcer announces
//   classroom-state.ini  the mode and the extra hosts (the announcer's
//                   --published-state), always written after the catalogue
//                   so that a new state never goes out with an old one
//   pictures/       the re-encoded button pictures, served by the announcer
//   history/        every publish, named by its time and teacher
//   sets/           the teachers' saved lesson sets
//   timetable.ini   the slots at which the announcer puts a set on the air
//   lesson.ini      what was published while a slot ran, for its rest only
// Every file is replaced whole, so the announcer never reads half a publish.
// What the announcer really announces it says in its own --on-air folder:
//   on-air.ini      the catalogue's text
//   on-air.status   "source=PATH", and "refused=PROBLEM" when the published
//                   file was refused and the last valid catalogue kept
class CPublishStore {
public:
    struct Publish {
        std::string id;   // its file name in history/, without ".ini"
        std::string user;
        long long timeMs = 0;
        std::string set;                // the lesson set it came from; empty when none
        std::vector<std::string> names; // its links' names, in toolbar order
        bool onAir = false;             // the newest version that is what is on the air
    };
    struct LessonSet {
        std::string name;
        CatalogueEdit edit;
    };

    struct OnAir {
        CatalogueEdit edit;
        std::string source;  // the file it came from
        std::string refusal; // why the published file was refused; empty when it was not
    };

    // `firstCataloguePath`: the catalogue announced until the first publish;
    // `onAirFolder`: the announcer's, empty or missing when it tells nothing;
    // `statePath`: the classroom state's file, empty for the folder's.
    CPublishStore(std::string folder, std::string firstCataloguePath, std::string onAirFolder = "",
        std::string statePath = "")
        : m_folder(std::move(folder)), m_firstCataloguePath(std::move(firstCataloguePath)),
          m_onAirFolder(std::move(onAirFolder)),
          m_statePath(statePath.empty() ? m_folder + "/classroom-state.ini" : std::move(statePath))
    {
    }

    // Makes the folders and reads the classroom state written last.
    // Returns "" or why not.
    std::string Open();
    const std::string& CataloguePath() const { return m_cataloguePath; }
    const std::string& StatePath() const { return m_statePath; }

    // Checks and publishes the edit, keeping it in the history under `user`
    // with the name of the lesson set it came from, if any. While a slot
    // runs it goes to lesson.ini, for the rest of that slot only.
    // Returns "" or what is wrong, in Chinese.
    std::string PublishEdit(const CatalogueEdit& edit, const std::string& user, const std::string& set = "");
    std::string Republish(const std::string& id, const std::string& user);
    std::string SaveSet(const std::string& name, const CatalogueEdit& edit);
    std::string PublishSet(const std::string& name, const std::string& user);
    std::string DeleteSet(const std::string& name);
    // A version in the history, to be looked at.
    std::string Version(const std::string& id, CatalogueEdit& edit) const;
    // Whether `name` can name a lesson set: 1 to 64 bytes, no line break.
    static bool IsSetName(const std::string& name);
    // Keeps the BMP under a name made from its bytes; returns the file name.
    std::string SavePicture(const std::string& bmp, std::string& fileName);

    // A mode button pressed at nowSeconds (PressModeButton); the state file
    // is written at once. While a slot runs the state holds for that slot
    // only; `untilLessonEnd` ends a pause with the slot. Returns "" or what
    // is wrong, in Chinese.
    std::string SetMode(ClassroomMode mode, const std::string& message, int minutes, std::int64_t nowSeconds,
        bool untilLessonEnd = false);
    // The classroom state as the announcer sends it: the state written
    // last while it holds, else the running slot's mode, else open.
    PublishedState Classroom() const;
    PublishedState ClassroomAt(std::int64_t nowSeconds) const;

    Timetable ReadTimetable() const;
    std::optional<SlotOccurrence> RunningLesson(std::int64_t nowSeconds) const;
    // Adds the slot (id 0: a new one) or replaces the one with its id; its
    // set is named, its file found here. "" or what is wrong, in Chinese,
    // with the page's field it lies in ("set", "days", "start" or none).
    std::string SaveSlot(TimetableSlot slot, std::string* field = nullptr);
    std::string DeleteSlot(int id);
    // Switches the slot off for the week of nowSeconds, or on again.
    std::string SwitchOffThisWeek(int id, bool off, std::int64_t nowSeconds);

    // What is on the air: what the announcer says it announces, else the
    // last publish, else the catalogue before it.
    OnAir WhatIsOnAir() const;
    CatalogueEdit Published() const { return WhatIsOnAir().edit; }
    std::vector<Publish> History() const;
    std::vector<LessonSet> Sets() const;
    const std::string& PicturesFolder() const { return m_picturesFolder; }
    // With rooms, every room's store keeps the pictures in the state
    // folder's one pictures/, which the announcer serves; call before Open.
    void SharePictures(std::string folder) { m_picturesFolder = std::move(folder); }

private:
    std::string ReadInFolder(const std::string& path) const;
    // The state file with the hosts; the caller holds m_mutex.
    std::string WriteState(const PublishedState& state);
    // ClassroomAt; the caller holds m_mutex.
    PublishedState StateOnTheAir(std::int64_t nowSeconds) const;
    // The timetable written anew by `change`, which returns "" or its refusal.
    std::string ChangeTimetable(const std::function<std::string(Timetable&)>& change);
    std::string LessonPath() const { return m_folder + "/lesson.ini"; }
    std::string TimetablePath() const { return m_folder + "/timetable.ini"; }
    std::string SetPath(const std::string& name) const;
    std::string HistoryPath(const std::string& id) const { return m_folder + "/history/" + id + ".ini"; }

    std::string m_folder;
    std::string m_firstCataloguePath;
    std::string m_onAirFolder;
    std::string m_statePath;
    std::string m_cataloguePath = m_folder + "/catalogue.ini";
    std::string m_picturesFolder = m_folder + "/pictures";
    mutable std::mutex m_mutex;
    PublishedState m_classroom;
};

} // namespace kestrel
