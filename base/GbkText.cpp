#include "base/GbkText.h"

#include <cerrno>
#include <iconv.h>

namespace kestrel {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
const auto kNoConversion = reinterpret_cast<iconv_t>(-1);

} // namespace

CGbkConverter::CGbkConverter(Direction direction)
    : m_cd(direction == Direction::GbkToUtf8 ? iconv_open("UTF-8", "CP936") : iconv_open("CP936", "UTF-8"))
{
}

CGbkConverter::~CGbkConverter()
{
    if (Ok())
        iconv_close(static_cast<iconv_t>(m_cd));
}

bool CGbkConverter::Ok() const
{
    return static_cast<iconv_t>(m_cd) != kNoConversion;
}

std::size_t CGbkConverter::Convert(std::string_view in, std::string& out)
{
    if (!Ok())
        return 0;
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char chunk[256];
    while (inLeft > 0) {
        char* outPtr = chunk;
        std::size_t outLeft = sizeof chunk;
        const std::size_t rc = iconv(static_cast<iconv_t>(m_cd), &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(chunk, sizeof chunk - outLeft);
        // A full chunk is no failure: the rest goes into the next one.
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG)
            break;
    }
    return in.size() - inLeft;
}

std::size_t CGbkConverter::ConvertWhole(std::string_view in, char* out, std::size_t capacity)
{
    if (!Ok())
        return 0;
    iconv(static_cast<iconv_t>(m_cd), nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out;
    std::size_t outLeft = capacity;
    if (iconv(static_cast<iconv_t>(m_cd), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
        return 0;
    return capacity - outLeft;
}

std::string GbkToUtf8(std::string_view gbk)
{
    std::string utf8;
    CGbkConverter converter(CGbkConverter::Direction::GbkToUtf8);
    if (!converter.Ok())
        return utf8;
    while (!gbk.empty()) {
        const std::size_t done = converter.Convert(gbk, utf8);
        if (done == gbk.size())
            break;
        utf8.append(kReplacementCharacter);
        gbk.remove_prefix(done + 1);
    }
    return utf8;
}

bool Utf8ToGbk(std::string_view utf8, std::string& gbk, std::size_t* badOffset)
{
    gbk.clear();
    CGbkConverter converter(CGbkConverter::Direction::Utf8ToGbk);
    const std::size_t done = converter.Convert(utf8, gbk);
    if (done == utf8.size())
        return true;
    if (badOffset)
        *badOffset = done;
    return false;
}

} // namespace kestrel
