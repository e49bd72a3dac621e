#include "channel/Crc16.h"
#include "channel/Crc16CarryLess.h"
#include "channel/Crc16Table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <random>
#include <vector>

namespace kestrel {
namespace {

// The definition itself, one bit at a time.
std::uint16_t BitwiseCrc16(const unsigned char* bytes, std::size_t count)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<unsigned char> RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(count);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

TEST(Crc16, CheckValueOfTheNineDigits)
{
    const unsigned char digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(digits, sizeof digits), 0x29B1);
}

TEST(Crc16, NoBytesGiveTheStartValue)
{
    EXPECT_EQ(Crc16(nullptr, 0), kCrc16Start);
}

TEST(Crc16, MatchesTheBitwiseDefinitionForEveryLengthAndAlignment)
{
    const std::vector<unsigned char> bytes = RandomBytes(700, 11);
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t count = 0; offset + count <= 650; ++count) {
            ASSERT_EQ(Crc16(bytes.data() + offset, count), BitwiseCrc16(bytes.data() + offset, count))
                << "offset " << offset << ", " << count << " bytes";
        }
    }
}

TEST(Crc16, MatchesTheBitwiseDefinitionOnTheLongestFrame)
{
    const std::vector<unsigned char> bytes = RandomBytes(12 + 8192, 23);
    EXPECT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc16(bytes.data(), bytes.size()));
}

TEST(Crc16, RunsOfSyncBytesAndZerosAreChecked)
{
    const std::vector<unsigned char> sync(1165, 0xFE);
    const std::vector<unsigned char> zeros(1165, 0x00);
    EXPECT_EQ(Crc16(sync.data(), sync.size()), BitwiseCrc16(sync.data(), sync.size()));
    EXPECT_EQ(Crc16(zeros.data(), zeros.size()), BitwiseCrc16(zeros.data(), zeros.size()));
}

// Crc16 picks a variant by the processor, so each one is held to the
// definition directly: a machine without carry-less multiplication would
// otherwise never run the table code on long runs, and one with it never
// on short ones.
struct Crc16Variant {
    const char* name;
    std::uint16_t (*crc)(std::uint16_t, const unsigned char*, std::size_t);
    bool (*supported)();
    std::size_t shortestRun;
};

std::ostream& operator<<(std::ostream& out, const Crc16Variant& variant)
{
    return out << variant.name;
}

class Crc16Variants : public ::testing::TestWithParam<Crc16Variant> {};

TEST_P(Crc16Variants, MatchesTheBitwiseDefinitionFromItsShortestRunOn)
{
    const Crc16Variant& variant = GetParam();
    if (!variant.supported())
        GTEST_SKIP() << variant.name << " cannot run on this processor";
    const std::vector<unsigned char> bytes = RandomBytes(12 + 8192 + 16, 31);
    for (std::size_t offset : {0, 1, 7, 15}) {
        for (std::size_t count = variant.shortestRun; count <= variant.shortestRun + 300; ++count) {
            ASSERT_EQ(variant.crc(kCrc16Start, bytes.data() + offset, count), BitwiseCrc16(bytes.data() + offset, count))
                << "offset " << offset << ", " << count << " bytes";
        }
        for (std::size_t count : {std::size_t{1165}, std::size_t{1261}, std::size_t{12 + 8192}}) {
            ASSERT_EQ(variant.crc(kCrc16Start, bytes.data() + offset, count), BitwiseCrc16(bytes.data() + offset, count))
                << "offset " << offset << ", " << count << " bytes";
        }
    }
}

bool Always()
{
    return true;
}

INSTANTIATE_TEST_SUITE_P(EachVariant, Crc16Variants,
                         ::testing::Values(Crc16Variant{"table", &Crc16ByTable, &Always, 0},
                                           Crc16Variant{"carry-less", &Crc16CarryLess, &CarryLessCrc16Supported,
                                                        kCarryLessCrc16ShortestRun},
                                           Crc16Variant{"wide carry-less", &Crc16CarryLessWide,
                                                        &WideCarryLessCrc16Supported, kWideCarryLessCrc16ShortestRun}),
                         [](const ::testing::TestParamInfo<Crc16Variant>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 c = c == ' ' || c == '-' ? '_' : c;
                             return name;
                         });

} // namespace
} // namespace kestrel
