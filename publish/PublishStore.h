#pragma once

#include "publish/CatalogueEdit.h"

#include <mutex>
#include <string>
#include <vector>

namespace kestrel {

// The state folder the page shares with the announcer:
//   catalogue.ini   the published catalogue, which the announcer announces
//   pictures/       the re-encoded button pictures, served by the announcer
//   history/        every publish, named by its time and teacher
//   sets/           the teachers' saved lesson sets
// Every file is replaced whole, so the announcer never reads half a publish.
class CPublishStore {
public:
    struct Publish {
        std::string id;   // its file name in history/, without ".ini"
        std::string user;
        long long timeMs = 0;
    };
    struct LessonSet {
        std::string name;
        CatalogueEdit edit;
    };

    // `onAirPath`: the catalogue announced until the first publish.
    CPublishStore(std::string folder, std::string onAirPath)
        : m_folder(std::move(folder)), m_onAirPath(std::move(onAirPath))
    {
    }

    // Makes the folders. Returns "" or why not.
    std::string Open();
    const std::string& CataloguePath() const { return m_cataloguePath; }

    // Checks and publishes the edit, keeping it in the history under `user`.
    // Returns "" or what is wrong, in Chinese.
    std::string PublishEdit(const CatalogueEdit& edit, const std::string& user);
    std::string Republish(const std::string& id, const std::string& user);
    std::string SaveSet(const std::string& name, const CatalogueEdit& edit);
    std::string PublishSet(const std::string& name, const std::string& user);
    // Keeps the BMP under a name made from its bytes; returns the file name.
    std::string SavePicture(const std::string& bmp, std::string& fileName);

    // What is on the air: the last publish, else the catalogue before it.
    CatalogueEdit Published() const;
    std::vector<Publish> History() const;
    std::vector<LessonSet> Sets() const;
    std::string PicturesFolder() const { return m_folder + "/pictures"; }

private:
    std::string ReadInFolder(const std::string& path) const;
    std::string PublishText(const std::string& text, const std::string& user);

    std::string m_folder;
    std::string m_onAirPath;
    std::string m_cataloguePath = m_folder + "/catalogue.ini";
    mutable std::mutex m_mutex;
};

} // namespace kestrel
