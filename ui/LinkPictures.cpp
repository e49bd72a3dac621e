#include "ui/LinkPictures.h"

#include "net/FetchWorker.h"
#include "ui/ToolbarPicture.h"

#include <QBuffer>
#include <QImageReader>
#include <QMetaObject>

namespace kestrel {

namespace {

// Far beyond any button picture; a few bytes of a compressed format could
// otherwise claim a picture that fills the memory.
constexpr int kLargestPictureSide = 1024;

bool WithinLargestSide(const QSize& size)
{
    return size.width() <= kLargestPictureSide && size.height() <= kLargestPictureSide;
}

QPixmap PictureOrStandIn(const QPixmap& picture)
{
    return picture.isNull() ? StandInPicture() : picture;
}

} // namespace

QImage DecodePicture(const FetchedBody& body)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(body.bytes),
                                               static_cast<qsizetype>(body.size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || !WithinLargestSide(size))
        return QImage();
    // Some formats announce one size and decode to another (a GIF's frame
    // against its screen), so the decoded picture is measured again.
    const QImage image = reader.read();
    return WithinLargestSide(image.size()) ? image : QImage();
}

CLinkPictures::CLinkPictures(Ended ended, std::chrono::milliseconds freshFor)
    : m_ended(std::move(ended))
    , m_freshFor(freshFor)
    , m_worker(std::make_unique<CFetchWorker>([this](const std::string& url, const FetchedBody& body) {
        // Decoded on the worker's thread; kept and shown on the window's.
        const QImage image = DecodePicture(body);
        const bool usable = body.size != 0;
        QMetaObject::invokeMethod(
            this, [this, url, usable, image] { OnFetchEnded(url, usable, image); }, Qt::QueuedConnection);
    }))
{
}

CLinkPictures::~CLinkPictures()
{
    // Answers still queued for this object go with it.
    m_worker.reset();
}

bool CLinkPictures::Request(const std::string& url)
{
    if (url.empty())
        return true;
    const auto found = m_kept.find(url);
    if (found != m_kept.end()) {
        if (found->second.fetching)
            return false;
        if (Fresh(found->second))
            return true;
        found->second.fetching = true;
    } else {
        m_kept.emplace(url, Kept());
    }
    m_worker->Fetch(url);
    return false;
}

bool CLinkPictures::Usable(const std::string& url) const
{
    const auto found = m_kept.find(url);
    return found != m_kept.end() && found->second.usable;
}

QPixmap CLinkPictures::Picture(const std::string& url) const
{
    const auto found = m_kept.find(url);
    return found == m_kept.end() ? QPixmap() : found->second.picture;
}

void CLinkPictures::KeepOnly(const std::set<std::string>& inUse)
{
    for (auto kept = m_kept.begin(); kept != m_kept.end();) {
        if (inUse.count(kept->first) != 0 || kept->second.fetching || Fresh(kept->second))
            ++kept;
        else
            kept = m_kept.erase(kept);
    }
}

void CLinkPictures::OnFetchEnded(const std::string& url, bool usable, const QImage& image)
{
    Kept& kept = m_kept[url];
    kept.fetching = false;
    kept.usable = usable;
    // The latest answer counts, as a rebuild that fetched afresh would show it.
    kept.picture = ButtonPicture(image);
    kept.ended = std::chrono::steady_clock::now();
    m_ended(url);
}

bool CLinkPictures::Fresh(const Kept& kept) const
{
    return std::chrono::steady_clock::now() - kept.ended < m_freshFor;
}

QIcon LinkIcon(const CLinkPictures& pictures, const std::string& hotPicture, const std::string& coolPicture)
{
    const QPixmap hot = pictures.Picture(hotPicture);
    const QPixmap cool = pictures.Picture(coolPicture);
    return ButtonIcon(PictureOrStandIn(cool.isNull() ? hot : cool), PictureOrStandIn(hot));
}

QIcon StandInIcon()
{
    const QPixmap standIn = StandInPicture();
    return ButtonIcon(standIn, standIn);
}

} // namespace kestrel
