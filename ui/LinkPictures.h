#pragma once

#include "net/PictureFetch.h"

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPixmap>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace kestrel {

class CFetchWorker;

// A fetched picture is trusted this long; after it (answered or not) the
// next request for its address fetches it again, so a silent server is
// asked at most once a minute and a replaced file shows within one.
constexpr std::chrono::seconds kPictureFreshFor{60};

// Decodes a fetched picture in memory; a null image when the bytes are no
// picture or claim an absurd size.
QImage DecodePicture(const FetchedBody& body);

// The link buttons' pictures, kept by address. Each address is fetched in
// the background, never twice at once, and again only once its last fetch
// is no longer fresh. Every answer reaches `ended` on the window's thread,
// after the picture (if any) is kept.
class CLinkPictures : public QObject {
public:
    using Ended = std::function<void(const std::string& url)>;

    explicit CLinkPictures(Ended ended, std::chrono::milliseconds freshFor = kPictureFreshFor);
    ~CLinkPictures() override;

    // Asks for the picture at url unless its last fetch is fresh or one is
    // on its way. True when the answer is known now (it then comes to
    // nobody); false while it is fetched. An empty address is known to give
    // nothing.
    bool Request(const std::string& url);
    // Whether the last fetch of url brought back a usable body: the verdict
    // of a picture test.
    bool Usable(const std::string& url) const;
    // The button picture from url's last body; null when there is none.
    QPixmap Picture(const std::string& url) const;
    // Forgets stale pictures of addresses that no button uses any more.
    void KeepOnly(const std::set<std::string>& inUse);

private:
    struct Kept {
        bool fetching = true;
        bool usable = false;
        QPixmap picture;
        std::chrono::steady_clock::time_point ended;
    };

    void OnFetchEnded(const std::string& url, bool usable, const QImage& image);
    bool Fresh(const Kept& kept) const;

    const Ended m_ended;
    const std::chrono::milliseconds m_freshFor;
    std::map<std::string, Kept> m_kept;
    // Last, so it stops before anything it reports to goes away.
    std::unique_ptr<CFetchWorker> m_worker;
};

// A link's icon from its pictures: the normal image from `coolPicture` when
// it gives one, else from `hotPicture`; the hot image from `hotPicture`. A
// missing image gets the neutral stand-in, so every link has exactly its
// own two.
QIcon LinkIcon(const CLinkPictures& pictures, const std::string& hotPicture, const std::string& coolPicture);

// The icon of a link whose pictures are not there yet.
QIcon StandInIcon();

} // namespace kestrel
