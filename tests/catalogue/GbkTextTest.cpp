#include "catalogue/GbkText.h"

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
