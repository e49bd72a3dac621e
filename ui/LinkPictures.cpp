#include "ui/LinkPictures.h"

#include "catalogue/LinkCatalogue.h"
#include "net/PictureFetch.h"
#include "ui/ButtonPicture.h"
#include "ui/WindowAliveWait.h"

#include <QBuffer>
#include <QImageReader>

namespace kestrel {

namespace {

// Far beyond any button picture; a few bytes of a compressed format could
// otherwise claim a picture that fills the memory.
constexpr int kLargestPictureSide = 1024;

bool WithinLargestSide(const QSize& size)
{
    return size.width() <= kLargestPictureSide && size.height() <= kLargestPictureSide;
}

QPixmap PictureOrStandIn(const QImage& image)
{
    const QPixmap picture = ButtonPicture(image);
    return picture.isNull() ? StandInPicture() : picture;
}

} // namespace

std::vector<FetchedBody> FetchPictureBatch(const std::vector<std::string>& urls)
{
    std::vector<FetchedBody> bodies(urls.size());
    std::vector<const char*> addresses;
    addresses.reserve(urls.size());
    for (const std::string& url : urls)
        addresses.push_back(url.c_str());
    RunKeepingWindowAlive([&] { FetchUrls(addresses.data(), bodies.data(), addresses.size()); });
    return bodies;
}

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

QList<QIcon> FetchLinkIcons(const CLinkCatalogue& catalogue)
{
    std::vector<std::string> urls;
    for (int k = 1; k <= catalogue.LinkCount(); ++k) {
        urls.emplace_back(FieldText(catalogue.Link(k).hotPicture));
        urls.emplace_back(FieldText(catalogue.Link(k).coolPicture));
    }
    const std::vector<FetchedBody> bodies = FetchPictureBatch(urls);

    QList<QIcon> icons;
    for (std::size_t i = 0; i + 1 < bodies.size(); i += 2) {
        const QImage hot = DecodePicture(bodies[i]);
        const QImage cool = DecodePicture(bodies[i + 1]);
        icons.append(ButtonIcon(PictureOrStandIn(cool.isNull() ? hot : cool), PictureOrStandIn(hot)));
    }
    return icons;
}

} // namespace kestrel
