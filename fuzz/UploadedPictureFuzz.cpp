// A teacher's upload on arbitrary bytes, as the publishing page receives it:
// nothing breaks, and whatever is accepted comes out as the 24 x 24, 24-bit
// BMP every browser shows, the same size whatever was sent.
#include "fuzz/FuzzInput.h"
#include "publish/UploadedPicture.h"

#include <string>
#include <string_view>

using kestrel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string bmp;
    std::string problem;
    const bool accepted
        = kestrel::EncodeButtonPicture(std::string_view(reinterpret_cast<const char*>(data), size), bmp, problem);
    if (accepted) {
        Require(bmp.size() == 54 + 24 * 72, "a button picture is 1782 bytes");
        Require(bmp.compare(0, 2, "BM") == 0, "a button picture is a BMP");
    } else {
        Require(!problem.empty(), "a refusal says why");
    }
    return 0;
}
