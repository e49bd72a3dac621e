#include "base/LinkRecord.h"
#include "tests/support/LinkRecordBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

TEST(LinkNames, AsciiLettersMatchInAnyCase)
{
    EXPECT_TRUE(LinkNamesEqual("Maths-7B", "mATHS-7b"));
    // Both ends of the alphabet, and the bytes just outside it.
    EXPECT_TRUE(LinkNamesEqual("Zoo", "zoo"));
    EXPECT_TRUE(LinkNamesEqual("Apple", "aPPLE"));
    EXPECT_FALSE(LinkNamesEqual("[", "{"));
    EXPECT_FALSE(LinkNamesEqual("@", "`"));
    EXPECT_FALSE(LinkNamesEqual("maths", "maths "));
    EXPECT_FALSE(LinkNamesEqual("maths1", "maths2"));
}

TEST(LinkNames, GbkBytesCompareExactly)
{
    // 数学 and a name one lead byte away from it.
    EXPECT_TRUE(LinkNamesEqual("\xCA\xFD\xD1\xA7", "\xCA\xFD\xD1\xA7"));
    EXPECT_FALSE(LinkNamesEqual("\xCA\xFD\xD1\xA7", "\xCA\xFD\xD1\xA8"));
    // High bytes are not folded like letters: 0xC1 and 0xE1 stay apart.
    EXPECT_FALSE(LinkNamesEqual("\xC1", "\xE1"));
}

TEST(LinkNames, KeysAreEqualExactlyWhenTheNamesMatch)
{
    const std::string names[] = {"Maths-7B", "mATHS-7b", "Zoo", "zoo", "[", "{", "maths", "maths ", "maths1", "maths2", "\xCA\xFD\xD1\xA7",
                                 "\xCA\xFD\xD1\xA8", "\xC1", "\xE1", "@", "`", "", std::string(128, 'N'), std::string(128, 'n')};
    for (const std::string& a : names) {
        for (const std::string& b : names)
            EXPECT_EQ(LinkNameKey(a) == LinkNameKey(b), LinkNamesEqual(a, b)) << '"' << a << "\" and \"" << b << '"';
    }
    EXPECT_TRUE(LinkNameKey("").Empty());
    EXPECT_FALSE(LinkNameKey("a").Empty());
}

TEST(LinkRecords, HomeIsRecognisedInAnyLetterCase)
{
    EXPECT_TRUE(IsHomeRecord(test::LinkRecordBuilder("home")));
    EXPECT_TRUE(IsHomeRecord(test::LinkRecordBuilder("HoMe")));
    EXPECT_FALSE(IsHomeRecord(test::LinkRecordBuilder("homepage")));
    EXPECT_FALSE(IsHomeRecord(test::LinkRecordBuilder("")));
}

TEST(LinkRecords, FieldWithoutNulEndsAtItsLastByte)
{
    const std::string full(128, 'n');
    const LinkRecord record = test::LinkRecordBuilder(full).Caption("caption");
    EXPECT_EQ(FieldText(record.name), full);
    EXPECT_EQ(FieldText(record.caption), "caption");
}

} // namespace
} // namespace kestrel
