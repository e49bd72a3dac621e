#include "config/ChannelSettings.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kestrel {
namespace {

struct PortCase {
    const char* text;
    long port;
};

std::ostream& operator<<(std::ostream& out, const PortCase& c)
{
    return out << '"' << c.text << "\" -> " << c.port;
}

class PortText : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortText, ReadsLikeAtol)
{
    EXPECT_EQ(PortFromText(GetParam().text), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(DecimalDigits, PortText,
                         ::testing::Values(PortCase{"9000", 9000}, PortCase{"0", 0}, PortCase{"70000", 70000}));

INSTANTIATE_TEST_SUITE_P(LeadingBlanksAndOneSign, PortText,
                         ::testing::Values(PortCase{" \t 9001", 9001}, PortCase{"+9002", 9002}, PortCase{"-1", -1},
                                           PortCase{"+-5", 0}, PortCase{"- 5", 0}));

INSTANTIATE_TEST_SUITE_P(StopAtTheFirstOtherCharacter, PortText,
                         ::testing::Values(PortCase{"9003abc", 9003}, PortCase{"90 04", 90}, PortCase{"12.5", 12}));

INSTANTIATE_TEST_SUITE_P(NoDigitsGiveZero, PortText,
                         ::testing::Values(PortCase{"", 0}, PortCase{"   ", 0}, PortCase{"port", 0}));

INSTANTIATE_TEST_SUITE_P(BeyondThirtyTwoBitsStopAtTheEnds, PortText,
                         ::testing::Values(PortCase{"2147483647", 2147483647L}, PortCase{"2147483648", 2147483647L},
                                           PortCase{"99999999999999999999999999", 2147483647L},
                                           PortCase{"-2147483648", -2147483647L - 1},
                                           PortCase{"-99999999999999999999", -2147483647L - 1}));

} // namespace
} // namespace kestrel
