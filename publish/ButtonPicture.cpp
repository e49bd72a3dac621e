#include "publish/ButtonPicture.h"

#include <gd.h>
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <memory>

namespace kestrel {
namespace {

enum class Format { Unknown, Png, Jpeg, Gif, Bmp };

// Pictures of more pixels than this are refused before decoding, so a small
// file that claims a huge picture cannot take the server's memory.
constexpr long long kMostPixels = 4096LL * 4096LL;
// Either side alone, so that the product of the two cannot overflow.
constexpr long long kLongestSide = 1 << 16;

unsigned Byte(std::string_view bytes, std::size_t i)
{
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
}

Format Sniff(std::string_view bytes)
{
    if (bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8))
        return Format::Png;
    if (bytes.size() >= 3 && Byte(bytes, 0) == 0xFF && Byte(bytes, 1) == 0xD8 && Byte(bytes, 2) == 0xFF)
        return Format::Jpeg;
    if (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a")
        return Format::Gif;
    if (bytes.substr(0, 2) == "BM")
        return Format::Bmp;
    return Format::Unknown;
}

// The picture's size as its header states it; false when it cannot be told.
bool StatedSize(std::string_view bytes, Format format, long long& width, long long& height)
{
    const auto big16 = [&](std::size_t i) { return (Byte(bytes, i) << 8) | Byte(bytes, i + 1); };
    const auto little32 = [&](std::size_t i) {
        return static_cast<std::int32_t>(Byte(bytes, i) | (Byte(bytes, i + 1) << 8) | (Byte(bytes, i + 2) << 16)
            | (Byte(bytes, i + 3) << 24));
    };
    switch (format) {
    case Format::Png:
        width = (static_cast<long long>(big16(16)) << 16) | big16(18);
        height = (static_cast<long long>(big16(20)) << 16) | big16(22);
        return bytes.size() >= 24;
    case Format::Gif:
        width = Byte(bytes, 6) | (Byte(bytes, 7) << 8);
        height = Byte(bytes, 8) | (Byte(bytes, 9) << 8);
        return bytes.size() >= 10;
    case Format::Bmp:
        width = little32(18);
        height = little32(22);
        height = height < 0 ? -height : height;
        return bytes.size() >= 26;
    case Format::Jpeg:
        // The frame header (SOFn) carries the size; walk the segments to it.
        for (std::size_t i = 2; i + 9 <= bytes.size();) {
            if (Byte(bytes, i) != 0xFF)
                return false;
            const unsigned marker = Byte(bytes, i + 1);
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                height = big16(i + 5);
                width = big16(i + 7);
                return true;
            }
            i += 2 + big16(i + 2);
        }
        return false;
    case Format::Unknown:
        return false;
    }
    return false;
}

gdImagePtr Decode(std::string_view bytes, Format format)
{
    void* data = const_cast<char*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    switch (format) {
    case Format::Png:
        return gdImageCreateFromPngPtr(size, data);
    case Format::Jpeg:
        return gdImageCreateFromJpegPtrEx(size, data, 1);
    case Format::Gif:
        return gdImageCreateFromGifPtr(size, data);
    case Format::Bmp:
        return gdImageCreateFromBmpPtr(size, data);
    case Format::Unknown:
        break;
    }
    return nullptr;
}

void PutLittle(std::string& out, unsigned value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string WriteBmp(gdImagePtr square)
{
    constexpr int kRowBytes = kButtonPictureSide * 3; // 72: already a multiple of four
    constexpr unsigned kPixelBytes = kRowBytes * kButtonPictureSide;
    std::string bmp = "BM";
    PutLittle(bmp, 54 + kPixelBytes, 4);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, 54, 4);
    PutLittle(bmp, 40, 4);
    PutLittle(bmp, kButtonPictureSide, 4);
    PutLittle(bmp, kButtonPictureSide, 4);
    PutLittle(bmp, 1, 2);
    PutLittle(bmp, 24, 2);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, kPixelBytes, 4);
    PutLittle(bmp, 2835, 4);
    PutLittle(bmp, 2835, 4);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, 0, 4);
    // Bottom row first; a pixel more than half transparent becomes magenta.
    for (int y = kButtonPictureSide - 1; y >= 0; --y) {
        for (int x = 0; x < kButtonPictureSide; ++x) {
            const int pixel = gdImageGetTrueColorPixel(square, x, y);
            const bool clear = gdTrueColorGetAlpha(pixel) > gdAlphaMax / 2;
            bmp += static_cast<char>(clear ? 255 : gdTrueColorGetBlue(pixel));
            bmp += static_cast<char>(clear ? 0 : gdTrueColorGetGreen(pixel));
            bmp += static_cast<char>(clear ? 255 : gdTrueColorGetRed(pixel));
        }
    }
    return bmp;
}

// libgd's own complaints about a damaged file would go to standard error;
// the teacher is told in the problem instead.
void IgnoreDecoderMessage(int, const char*, va_list) {}

} // namespace

bool EncodeButtonPicture(std::string_view upload, std::string& bmp, std::string& problem)
{
    gdSetErrorMethod(IgnoreDecoderMessage);
    if (upload.size() > kLargestUpload) {
        problem = "图片太大：最多 2 MB";
        return false;
    }
    const Format format = Sniff(upload);
    if (format == Format::Unknown) {
        problem = "只接受 PNG、JPEG、GIF 或 BMP 图片";
        return false;
    }
    long long width = 0;
    long long height = 0;
    if (!StatedSize(upload, format, width, height) || width <= 0 || height <= 0 || width > kLongestSide
        || height > kLongestSide || width * height > kMostPixels) {
        problem = "图片无法读取，或超过 4096 × 4096 像素";
        return false;
    }
    const std::unique_ptr<gdImage, void (*)(gdImagePtr)> source(Decode(upload, format), gdImageDestroy);
    if (!source || gdImageSX(source.get()) <= 0 || gdImageSY(source.get()) <= 0) {
        problem = "图片无法读取";
        return false;
    }
    const std::unique_ptr<gdImage, void (*)(gdImagePtr)> square(
        gdImageCreateTrueColor(kButtonPictureSide, kButtonPictureSide), gdImageDestroy);
    if (!square) {
        problem = "服务器内存不足";
        return false;
    }
    gdImageAlphaBlending(square.get(), 0);
    gdImageFilledRectangle(square.get(), 0, 0, kButtonPictureSide - 1, kButtonPictureSide - 1,
        gdTrueColorAlpha(255, 0, 255, gdAlphaTransparent));
    // Fitted into the square with its shape kept, centred.
    const int sourceWidth = gdImageSX(source.get());
    const int sourceHeight = gdImageSY(source.get());
    const int longer = sourceWidth > sourceHeight ? sourceWidth : sourceHeight;
    const int width24 = std::max(1, sourceWidth * kButtonPictureSide / longer);
    const int height24 = std::max(1, sourceHeight * kButtonPictureSide / longer);
    gdImageCopyResampled(square.get(), source.get(), (kButtonPictureSide - width24) / 2,
        (kButtonPictureSide - height24) / 2, 0, 0, width24, height24, sourceWidth, sourceHeight);
    bmp = WriteBmp(square.get());
    return true;
}

} // namespace kestrel
