#include "tools/ByteRange.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(ByteRangeTest, OneRangeIsAPartAndAnythingElseTheWholeFile)
{
    using Answer = ByteRange::Answer;
    struct Case {
        const char* header;
        Answer answer;
        std::uint64_t first;
        std::uint64_t length;
    };
    const Case cases[] = {
        {"", Answer::WholeFile, 0, 0},
        {"bytes=0-9", Answer::Part, 0, 10},
        {"bytes=90-", Answer::Part, 90, 10},
        {"bytes=95-200", Answer::Part, 95, 5},
        {"bytes=-30", Answer::Part, 70, 30},
        {"bytes=-300", Answer::Part, 0, 100},
        {"bytes=100-", Answer::Unsatisfiable, 0, 0},
        {"bytes=-0", Answer::Unsatisfiable, 0, 0},
        {"bytes=0-,0-", Answer::WholeFile, 0, 0},
        {"bytes=9-0", Answer::WholeFile, 0, 0},
        {"bytes=-", Answer::WholeFile, 0, 0},
        {"bytes=a-b", Answer::WholeFile, 0, 0},
        {"bytes=99999999999999999999-", Answer::WholeFile, 0, 0},
        {"lines=0-9", Answer::WholeFile, 0, 0},
    };
    for (const Case& c : cases) {
        const ByteRange range = ReadByteRange(c.header, 100);
        EXPECT_EQ(range.answer, c.answer) << c.header;
        EXPECT_EQ(range.first, c.first) << c.header;
        EXPECT_EQ(range.length, c.length) << c.header;
    }
    EXPECT_EQ(ReadByteRange("bytes=0-", 0).answer, Answer::Unsatisfiable);
}

} // namespace
} // namespace kestrel
