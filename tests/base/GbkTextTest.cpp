#include "base/GbkText.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(GbkText, ChineseRoundTrips)
{
    EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4 ok"), "中文 ok");
    std::string gbk;
    ASSERT_TRUE(Utf8ToGbk("设置", gbk));
    EXPECT_EQ(gbk, "\xC9\xE8\xD6\xC3");
}

TEST(GbkText, TextLongerThanOneConversionStepRoundTripsWhole)
{
    // A 120-character caption: 240 bytes in GBK, 360 in UTF-8, so each way
    // out is more than one step of the converter.
    std::string utf8;
    std::string gbk;
    for (int i = 0; i < 60; ++i) {
        utf8 += "语文";
        gbk += "\xD3\xEF\xCE\xC4";
    }
    ASSERT_EQ(utf8.size(), 360u);
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
    std::string encoded;
    ASSERT_TRUE(Utf8ToGbk(utf8, encoded));
    EXPECT_EQ(encoded, gbk);
    // A mistake far behind the first step is still found where it stands.
    std::size_t badOffset = 0;
    EXPECT_FALSE(Utf8ToGbk(utf8 + "😀", encoded, &badOffset));
    EXPECT_EQ(badOffset, 360u);
}

TEST(GbkText, DamagedBytesBecomeReplacementCharacters)
{
    // A lone lead byte at the end, and a lead byte followed by a byte no
    // GBK character has as its second.
    EXPECT_EQ(GbkToUtf8("ab\xD6"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(GbkToUtf8("\xD6\x7F" "c"), "\xEF\xBF\xBD\x7F" "c");
}

TEST(GbkText, CharacterWithoutGbkFormIsReportedWhereItStands)
{
    std::string gbk;
    std::size_t badOffset = 0;
    EXPECT_FALSE(Utf8ToGbk("ab😀", gbk, &badOffset));
    EXPECT_EQ(badOffset, 2u);
    EXPECT_FALSE(Utf8ToGbk("x\xFF", gbk, &badOffset));
    EXPECT_EQ(badOffset, 1u);
}

} // namespace
} // namespace kestrel
