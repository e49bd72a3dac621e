#include "publish/ButtonPicture.h"

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

// A 48 x 24 picture: the left half opaque red, the right half transparent
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
    gdImageFilledRectangle(image, 0, 0, 23, 23, red);
    int size = 0;
    void* data = save(image, &size);
    std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(size));
    gdFree(data);
    gdImageDestroy(image);
    return bytes;
}

struct UploadCase {
    const char* format;
    std::function<void*(gdImagePtr, int*)> save;
    bool palette;
    bool transparent; // the right half comes through as magenta
};

class ButtonPictureFormats : public ::testing::TestWithParam<UploadCase> {};

TEST_P(ButtonPictureFormats, BecomeA24By24BmpWithMagentaWhereTransparent)
{
    const UploadCase& upload = GetParam();
    std::string bmp;
    std::string problem;
    ASSERT_TRUE(EncodeButtonPicture(MakePicture(upload.save, upload.palette), bmp, problem)) << problem;
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
    const Rgb left = PixelAt(bmp, 4, 12);
    EXPECT_GT(left.red, 200);
    EXPECT_LT(left.green, 60);
    EXPECT_LT(left.blue, 60);
    const Rgb right = PixelAt(bmp, 20, 12);
    if (upload.transparent)
        EXPECT_EQ(right, kMagenta);
    else
        EXPECT_GT(right.green, 200) << right;
}

INSTANTIATE_TEST_SUITE_P(Uploads, ButtonPictureFormats,
    ::testing::Values(UploadCase{"png", [](gdImagePtr i, int* s) { return gdImagePngPtr(i, s); }, false, true},
        UploadCase{"gif", [](gdImagePtr i, int* s) { return gdImageGifPtr(i, s); }, true, true},
        UploadCase{"jpeg", [](gdImagePtr i, int* s) { return gdImageJpegPtr(i, s, 95); }, false, false},
        UploadCase{"bmp", [](gdImagePtr i, int* s) { return gdImageBmpPtr(i, s, 0); }, false, false}),
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

} // namespace
} // namespace kestrel
