#include "channel/ChannelSocket.h"
#include "channel/Crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
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
    EXPECT_EQ(CChannelSocket::Crc16(digits, sizeof digits), 0x29B1);
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

} // namespace
} // namespace kestrel
