#include "net/UrlEncoding.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrel {
namespace {

std::string Encoded(const std::string& source)
{
    char output[kEncodedUrlSize];
    EXPECT_TRUE(EncodeUrl(source.c_str(), output)) << source;
    return output;
}

bool Refused(const std::string& source)
{
    char output[kEncodedUrlSize];
    const bool encoded = EncodeUrl(source.c_str(), output);
    EXPECT_EQ(output[0], '\0') << "a refused URL leaves no half encoding";
    return !encoded;
}

const std::string kChinese = "\xD6\xD0\xCE\xC4";
const std::string kChineseEscaped = "%E4%B8%AD%E6%96%87";

TEST(EncodeUrl, AsciiPassesUntouched)
{
    const std::string ascii = "http://host:8080/a b/pic.bmp?x=1&y=%41#top";
    EXPECT_EQ(Encoded(ascii), ascii);
}

TEST(EncodeUrl, ChineseCharactersBecomeUpperCaseUtf8Escapes)
{
    EXPECT_EQ(Encoded("http://h/" + kChinese + ".bmp"), "http://h/" + kChineseEscaped + ".bmp");
}

TEST(EncodeUrl, CharacterBelowU0800GetsItsTwoByteForm)
{
    // The middle dot A1 A4 is U+00B7.
    EXPECT_EQ(Encoded("a\xA1\xA4z"), "a%C2%B7z");
}

TEST(EncodeUrl, BytesThatFormNoCharacterStayRaw)
{
    // A pair with a second byte below 0x81, a pair the code page does not
    // know, and a lone high byte at the end.
    EXPECT_EQ(Encoded("/\x81\x40/"), "/\x81\x40/");
    EXPECT_EQ(Encoded("/\xFF\xFF/"), "/\xFF\xFF/");
    EXPECT_EQ(Encoded("/x" + kChinese + "\xD6"), "/x" + kChineseEscaped + "\xD6");
}

TEST(EncodeUrl, EncodingMustFit519Characters)
{
    EXPECT_EQ(Encoded(std::string(519, 'a')).size(), 519u);
    EXPECT_TRUE(Refused(std::string(520, 'a')));

    // Nine characters for a Chinese character: 510 + 9 fits, 511 + 9 does not.
    EXPECT_EQ(Encoded(std::string(510, 'a') + "\xD6\xD0").size(), 519u);
    EXPECT_TRUE(Refused(std::string(511, 'a') + "\xD6\xD0"));

    std::string longest;
    for (int i = 0; i < 255 / 2; ++i)
        longest += "\xD6\xD0";
    EXPECT_TRUE(Refused(longest));
}

TEST(EncodeUrl, MissingSourceIsRefused)
{
    char output[kEncodedUrlSize];
    EXPECT_FALSE(EncodeUrl(nullptr, output));
}

} // namespace
} // namespace kestrel
