// Picture decoding on arbitrary bytes, as a picture server may answer: the
// bytes are decoded in memory like a fetched body, then made into a button
// picture. Nothing breaks; a picture comes back only within the size the
// decoder accepts, and every button picture is 24 x 24.
#include "fuzz/FuzzInput.h"
#include "net/PictureFetch.h"
#include "ui/LinkPictures.h"
#include "ui/ToolbarPicture.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using kestrel::fuzz::Require;

// The decoder's own bound on a side, far beyond a button picture.
constexpr int kLargestPictureSide = 1024;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Pixmaps need a GUI application, not a screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestrel::FetchedBody body;
    body.size = std::min(size, kestrel::kBodyCapacity);
    std::memcpy(body.bytes, data, body.size);

    const QImage image = kestrel::DecodePicture(body);
    Require(image.isNull() || (image.width() <= kLargestPictureSide && image.height() <= kLargestPictureSide),
            "a decoded picture keeps within the decoder's bound");
    const QPixmap picture = kestrel::ButtonPicture(image);
    Require(picture.isNull() == image.isNull(), "every decoded picture gives a button picture");
    Require(picture.isNull() || picture.size() == QSize(kestrel::kButtonPictureSize, kestrel::kButtonPictureSize),
            "a button picture is 24 x 24");
    return 0;
}
