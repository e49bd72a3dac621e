#include "publish/UploadedPicture.h"

#include <gd.h>
#include <gtest/gtest.h>

#include <functional>

namespace kestrel {
namespace {

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb& other) const
    {
        return red == other.red && green == other.green && blue == other.blue;
    }
};
constexpr Rgb kMagenta{255, 0, 255};

std::ostream& operator<<(std::ostream& out, const Rgb& rgb)
{
    return out << "(" << rgb.red << "," << rgb.green << "," << rgb.blue << ")";
}

unsigned Little(const std::string& bytes, std::size_t at, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The pixel at column x of row y, counted from the top.
Rgb PixelAt(const std::string& bmp, int x, int y)
{
    const std::size_t at = 54 + static_cast<std::size_t>(23 - y) * 72 + static_cast<std::size_t>(x) * 3;
    return {static_cast<unsigned char>(bmp[at + 2]), static_cast<unsigned char>(bmp[at + 1]),
        static_cast<unsigned char>(bmp[at])};
}

// A 48 x 24 picture: its top left quarter opaque red, the rest transparent
// where the format has transparency (white where it has not).
std::string MakePicture(const std::function<void*(gdImagePtr, int*)>& save, bool palette)
{
    gdImagePtr image = palette ? gdImageCreate(48, 24) : gdImageCreateTrueColor(48, 24);
    gdImageAlphaBlending(image, 0);
    gdImageSaveAlpha(image, 1);
    const int clear = palette ? gdImageColorAllocate(image, 255, 255, 255)
                              : gdTrueColorAlpha(255, 255, 255, gdAlphaTransparent);
    const int red = palette ? gdImageColorAllocate(image, 255, 0, 0) : gdTrueColorAlpha(255, 0, 0, 0);
    if (palette)
        gdImageColorTransparent(image, clear);
    gdImageFilledRectangle(image, 0, 0, 47, 23, clear);
    gdImageFilledRectangle(image, 0, 0, 23, 11, red);
    int size = 0;
    void* data = save(image, &size);
    std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(size));
    gdFree(data);
    gdImageDestroy(image);
    return bytes;
}

// libgd writes a BMP's rows bottom up; many Windows tools write them top
// down, saying so by a negative height.
std::string TopDown(const std::string& bmp)
{
    const std::size_t pixels = Little(bmp, 10, 4);
    const unsigned height = Little(bmp, 22, 4);
    const std::size_t row = (bmp.size() - pixels) / height;
    std::string flipped = bmp.substr(0, pixels);
    for (std::size_t y = height; y-- > 0;)
        flipped += bmp.substr(pixels + y * row, row);
    for (int i = 0; i < 4; ++i)
        flipped[22 + i] = static_cast<char>((0u - height) >> (8 * i));
    return flipped;
}

void* SaveJpeg(gdImagePtr image, int* size)
{
    return gdImageJpegPtr(image, size, 95);
}

void* SaveProgressiveJpeg(gdImagePtr image, int* size)
{
    gdImageInterlace(image, 1);
    return SaveJpeg(image, size);
}

void* SaveBmp(gdImagePtr image, int* size)
{
    return gdImageBmpPtr(image, size, 0);
}

struct UploadCase {
    const char* format;
    std::function<void*(gdImagePtr, int*)> save;
    bool palette;
    bool transparent; // the rest comes through as magenta
    bool topDown = false;
};

class ButtonPictureFormats : public ::testing::TestWithParam<UploadCase> {};

TEST_P(ButtonPictureFormats, BecomeA24By24BmpWithMagentaWhereTransparent)
{
    const UploadCase& upload = GetParam();
    std::string bmp;
    std::string problem;
    const std::string picture = MakePicture(upload.save, upload.palette);
    ASSERT_TRUE(EncodeButtonPicture(upload.topDown ? TopDown(picture) : picture, bmp, problem)) << problem;
    ASSERT_EQ(bmp.size(), 54u + 24 * 72);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Little(bmp, 2, 4), bmp.size());
    EXPECT_EQ(Little(bmp, 18, 4), 24u);
    EXPECT_EQ(Little(bmp, 22, 4), 24u);
    EXPECT_EQ(Little(bmp, 28, 2), 24u);
    EXPECT_EQ(Little(bmp, 30, 4), 0u);
    // 48 x 24 fits as 24 x 12, centred: the bands above and below are clear.
    EXPECT_EQ(PixelAt(bmp, 12, 1), kMagenta);
    EXPECT_EQ(PixelAt(bmp, 12, 22), kMagenta);
    const Rgb red = PixelAt(bmp, 4, 8);
    EXPECT_GT(red.red, 200);
    EXPECT_LT(red.green, 60);
    EXPECT_LT(red.blue, 60);
    for (const Rgb rest : {PixelAt(bmp, 20, 12), PixelAt(bmp, 4, 15)}) {
        if (upload.transparent)
            EXPECT_EQ(rest, kMagenta);
        else
            EXPECT_GT(rest.green, 200) << rest;
    }
}

INSTANTIATE_TEST_SUITE_P(Uploads, ButtonPictureFormats,
    ::testing::Values(UploadCase{"png", [](gdImagePtr i, int* s) { return gdImagePngPtr(i, s); }, false, true},
        UploadCase{"gif", [](gdImagePtr i, int* s) { return gdImageGifPtr(i, s); }, true, true},
        UploadCase{"jpeg", SaveJpeg, false, false}, UploadCase{"jpegProgressive", SaveProgressiveJpeg, false, false},
        UploadCase{"bmp", SaveBmp, false, false}, UploadCase{"bmpTopDown", SaveBmp, false, false, true}),
    [](const ::testing::TestParamInfo<UploadCase>& info) { return std::string(info.param.format); });

TEST(ButtonPicture, RefusesWhatIsNotOneOfTheFourFormatsOrTooLarge)
{
    const std::string png = MakePicture([](gdImagePtr i, int* s) { return gdImagePngPtr(i, s); }, false);
    std::string hugePng = png;
    // The header claims 60000 x 60000 pixels: refused before decoding.
    hugePng[18] = '\xEA';
    hugePng[19] = '\x60';
    hugePng[22] = '\xEA';
    hugePng[23] = '\x60';
    // Both sides 4294967295: their product must not overflow past the bound.
    std::string widePng = png;
    for (int i = 16; i < 24; ++i)
        widePng[i] = '\xFF';
    const std::string cases[] = {
        widePng,
        "",
        "<svg xmlns='http://www.w3.org/2000/svg'/>",
        "<html><script>alert(1)</script></html>",
        std::string("RIFF\0\0\0\0WEBPVP8 ", 16),
        png.substr(0, 40),
        hugePng,
        std::string(kLargestUpload + 1, 'x'),
        "BM" + std::string(100, '\xFF'),
    };
    for (const std::string& upload : cases) {
        std::string bmp;
        std::string problem;
        EXPECT_FALSE(EncodeButtonPicture(upload, bmp, problem)) << upload.substr(0, 20);
        EXPECT_FALSE(problem.empty());
    }
}

// A fill byte before the first marker leads a walk of the segments of our
// own to read the marker as a length and land inside a comment, at a frame
// header of 24 x 24 placed there; the real one follows the comment.
std::string JpegBehindAFakeFrame(const char* realHeightAndWidth)
{
    std::string jpeg = MakePicture(SaveJpeg, false);
    jpeg.replace(jpeg.find("\xFF\xC0") + 5, 4, realHeightAndWidth, 4);
    std::string comment(0xFFFD, '\0');
    comment.replace(4 + 0xFEFF - 7, 9, std::string("\xFF\xC0\x00\x11\x08\x00\x18\x00\x18", 9));
    return jpeg.substr(0, 2) + std::string("\xFF\xFF\xFE\xFF\xFF", 5) + comment + jpeg.substr(2);
}

// A progressive JPEG whose last scan is repeated: each one more pass over
// the whole picture for the decoder.
std::string JpegOfManyScans()
{
    std::string jpeg = MakePicture(SaveProgressiveJpeg, false);
    const std::size_t last = jpeg.rfind("\xFF\xDA");
    const std::string scan = jpeg.substr(last, jpeg.size() - 2 - last);
    for (int i = 0; i < 100; ++i)
        jpeg.insert(last, scan);
    return jpeg;
}

TEST(ButtonPicture, APictureIsMeasuredAsItsDecoderWillSeeItBeforeDecoding)
{
    std::string bmp;
    std::string problem;
    EXPECT_TRUE(EncodeButtonPicture(JpegBehindAFakeFrame("\x00\x18\x00\x30"), bmp, problem)) << problem;
    // 1 x 1 on the screen, its one frame 60000 x 60000.
    static const char kGif[] = "GIF89a\x01\x00\x01\x00\x00\x00\x00\x21\xFE\x01\x41\x00"
                               "\x2C\x00\x00\x00\x00\x60\xEA\x60\xEA\x00\x02\x02\x4C\x01\x00\x3B";
    for (const std::string& upload :
        {JpegBehindAFakeFrame("\x7D\x00\x7D\x00"), std::string(kGif, sizeof kGif - 1), JpegOfManyScans()}) {
        EXPECT_FALSE(EncodeButtonPicture(upload, bmp, problem));
        EXPECT_NE(problem.find("超过 4096 × 4096 像素"), std::string::npos) << problem;
    }
}

} // namespace
} // namespace kestrel
