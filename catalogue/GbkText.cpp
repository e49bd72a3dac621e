#include "catalogue/GbkText.h"

#include <cerrno>
#include <iconv.h>

namespace kestrel {

namespace {

// One conversion descriptor for the length of one call.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (Ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; returns the offset of the first byte it
    // could not convert, or the input's size when all went through.
    std::size_t Convert(std::string_view in, std::string& out)
    {
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char chunk[256];
        while (inLeft > 0) {
            char* outPtr = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(chunk, sizeof chunk - outLeft);
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG)
                break;
        }
        return in.size() - inLeft;
    }

private:
    iconv_t m_cd;
};

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    std::string utf8;
    Converter converter("UTF-8", "CP936");
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
    Converter converter("CP936", "UTF-8");
    const std::size_t done = converter.Ok() ? converter.Convert(utf8, gbk) : 0;
    if (done == utf8.size())
        return true;
    if (badOffset)
        *badOffset = done;
    return false;
}

} // namespace kestrel
