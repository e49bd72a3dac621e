#include "publish/UploadedPicture.h"

#include <gd.h>
#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
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

bool FitsTheBound(long long width, long long height)
{
    return width > 0 && height > 0 && width <= kLongestSide && height <= kLongestSide && width * height <= kMostPixels;
}

unsigned Little16(std::string_view bytes, std::size_t i)
{
    return Byte(bytes, i) | (Byte(bytes, i + 1) << 8);
}

long long Little32(std::string_view bytes, std::size_t i)
{
    return static_cast<std::int32_t>(Little16(bytes, i) | (Little16(bytes, i + 2) << 16));
}

// libjpeg reads any number of scans, each over the whole picture: a few
// thousand tiny ones keep its decoder busy for minutes. Far more than any
// encoder writes.
constexpr std::size_t kMostJpegScans = 100;

// Every scan starts with the bytes FF DA, which coded data never holds (an
// FF there is followed by 00), so this count is never short.
std::size_t JpegScans(std::string_view bytes)
{
    std::size_t scans = 0;
    for (std::size_t at = bytes.find("\xFF\xDA"); at != std::string_view::npos; at = bytes.find("\xFF\xDA", at + 2))
        ++scans;
    return scans;
}

// libjpeg's faults leave through this jump instead of exit(), and its
// messages are dropped instead of printed.
struct JpegErrors {
    jpeg_error_mgr manager; // first, as libjpeg hands back a pointer to it
    std::jmp_buf leave;
};

[[noreturn]] void LeaveJpeg(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->leave, 1);
}

void DropJpegMessage(j_common_ptr) {}

// The size libjpeg's own header reader finds, which is what its decoder
// will use: a walk of our own could be led elsewhere by fill bytes.
// Only plain C objects live here, as a long jump runs no destructor.
bool JpegFits(std::string_view bytes)
{
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = LeaveJpeg;
    errors.manager.output_message = DropJpegMessage;
    if (setjmp(errors.leave)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    const bool fits = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK
        && FitsTheBound(info.image_width, info.image_height);
    jpeg_destroy_decompress(&info);
    return fits;
}

std::size_t GifColourTableBytes(unsigned flags)
{
    return (flags & 0x80) ? 3u << ((flags & 7) + 1) : 0;
}

// libgd makes a frame as large as its image descriptor says, whatever the
// screen's size, so every descriptor is checked. The walk reads blocks as
// libgd does, skipping a stray byte as it does; each step moves on at least
// one byte, so it ends within the upload.
bool GifFits(std::string_view bytes)
{
    if (bytes.size() < 13 || !FitsTheBound(Little16(bytes, 6), Little16(bytes, 8)))
        return false;
    std::size_t at = 13 + GifColourTableBytes(Byte(bytes, 10));
    while (at < bytes.size()) {
        const unsigned block = Byte(bytes, at);
        if (block == 0x3B) // the trailer
            return true;
        if (block == 0x2C) { // an image: its descriptor, colours and code size
            if (!FitsTheBound(Little16(bytes, at + 5), Little16(bytes, at + 7)))
                return false;
            at += 11 + GifColourTableBytes(Byte(bytes, at + 9));
        } else if (block == 0x21) { // an extension and its label
            at += 2;
        } else {
            ++at;
            continue;
        }
        // The data's sub-blocks, each led by its length, up to an empty one.
        while (at < bytes.size() && Byte(bytes, at) != 0)
            at += 1 + Byte(bytes, at);
        ++at;
    }
    return true;
}

// Every format's size as its decoder will see it, against the same bound.
bool SizeFits(std::string_view bytes, Format format)
{
    const auto big32 = [&](std::size_t i) {
        return (static_cast<long long>(Byte(bytes, i)) << 24) | (Byte(bytes, i + 1) << 16) | (Byte(bytes, i + 2) << 8)
            | Byte(bytes, i + 3);
    };
    switch (format) {
    case Format::Png:
        return bytes.size() >= 24 && FitsTheBound(big32(16), big32(20));
    case Format::Gif:
        return GifFits(bytes);
    case Format::Bmp:
        // OS/2's first header holds 16-bit sides; the others 32-bit ones,
        // the height negative when the rows run top down.
        if (Little32(bytes, 14) == 12)
            return bytes.size() >= 26 && FitsTheBound(Little16(bytes, 18), Little16(bytes, 20));
        return bytes.size() >= 26 && FitsTheBound(Little32(bytes, 18), std::llabs(Little32(bytes, 22)));
    case Format::Jpeg:
        return JpegScans(bytes) <= kMostJpegScans && JpegFits(bytes);
    case Format::Unknown:
        break;
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
    constexpr int kRowBytes = kButtonPictureSize * 3; // 72: already a multiple of four
    constexpr unsigned kPixelBytes = kRowBytes * kButtonPictureSize;
    std::string bmp = "BM";
    PutLittle(bmp, 54 + kPixelBytes, 4);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, 54, 4);
    PutLittle(bmp, 40, 4);
    PutLittle(bmp, kButtonPictureSize, 4);
    PutLittle(bmp, kButtonPictureSize, 4);
    PutLittle(bmp, 1, 2);
    PutLittle(bmp, 24, 2);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, kPixelBytes, 4);
    PutLittle(bmp, 2835, 4);
    PutLittle(bmp, 2835, 4);
    PutLittle(bmp, 0, 4);
    PutLittle(bmp, 0, 4);
    // Bottom row first; a pixel more than half transparent becomes magenta.
    for (int y = kButtonPictureSize - 1; y >= 0; --y) {
        for (int x = 0; x < kButtonPictureSize; ++x) {
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
    if (!SizeFits(upload, format)) {
        problem = "图片无法读取，或超过 4096 × 4096 像素";
        return false;
    }
    const std::unique_ptr<gdImage, void (*)(gdImagePtr)> source(Decode(upload, format), gdImageDestroy);
    if (!source || gdImageSX(source.get()) <= 0 || gdImageSY(source.get()) <= 0) {
        problem = "图片无法读取";
        return false;
    }
    const std::unique_ptr<gdImage, void (*)(gdImagePtr)> square(
        gdImageCreateTrueColor(kButtonPictureSize, kButtonPictureSize), gdImageDestroy);
    if (!square) {
        problem = "服务器内存不足";
        return false;
    }
    gdImageAlphaBlending(square.get(), 0);
    gdImageFilledRectangle(square.get(), 0, 0, kButtonPictureSize - 1, kButtonPictureSize - 1,
        gdTrueColorAlpha(255, 0, 255, gdAlphaTransparent));
    // Fitted into the square with its shape kept, centred.
    const int sourceWidth = gdImageSX(source.get());
    const int sourceHeight = gdImageSY(source.get());
    const int longer = sourceWidth > sourceHeight ? sourceWidth : sourceHeight;
    const int width24 = std::max(1, sourceWidth * kButtonPictureSize / longer);
    const int height24 = std::max(1, sourceHeight * kButtonPictureSize / longer);
    gdImageCopyResampled(square.get(), source.get(), (kButtonPictureSize - width24) / 2,
        (kButtonPictureSize - height24) / 2, 0, 0, width24, height24, sourceWidth, sourceHeight);
    bmp = WriteBmp(square.get());
    return true;
}

} // namespace kestrel
