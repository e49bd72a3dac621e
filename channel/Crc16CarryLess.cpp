#include "channel/Crc16CarryLess.h"

#include "channel/Crc16.h"
#include "channel/Crc16Table.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cstring>
#include <immintrin.h>

namespace kestrel {

namespace {

constexpr std::size_t kBlockBytes = 16;

// x^n modulo the CRC polynomial: multiplying by it moves a value n bits on
// without leaving 16 bits.
constexpr long long PowerOfXModPolynomial(unsigned n)
{
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & 0x10000)
            remainder ^= 0x10000 | kCrc16Polynomial;
    }
    return remainder;
}

} // namespace

bool CarryLessCrc16Supported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
}

bool WideCarryLessCrc16Supported()
{
    __builtin_cpu_init();
    return CarryLessCrc16Supported() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("vpclmulqdq");
}

// The attribute, not a target pragma, so that gcc and clang both take it.
#define KESTREL_CARRY_LESS __attribute__((target("pclmul,ssse3")))
#define KESTREL_CARRY_LESS_WIDE __attribute__((target("pclmul,ssse3,avx512f,avx512bw,vpclmulqdq")))

namespace {

// The first byte of a run holds the highest powers of x, so each block is
// turned most significant byte first.
KESTREL_CARRY_LESS inline __m128i MostSignificantFirst(__m128i block)
{
    return _mm_shuffle_epi8(block, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
}

KESTREL_CARRY_LESS inline __m128i LoadBlock(const unsigned char* bytes)
{
    return MostSignificantFirst(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// Multiplying a block by x^Distance: its high half moves Distance + 64 bits,
// its low half Distance bits.
template <unsigned Distance>
KESTREL_CARRY_LESS inline __m128i FoldConstants()
{
    // Named constants, so that no build computes them at run time.
    constexpr long long kHighHalf = PowerOfXModPolynomial(Distance + 64);
    constexpr long long kLowHalf = PowerOfXModPolynomial(Distance);
    return _mm_set_epi64x(kHighHalf, kLowHalf);
}

// sum * x^Distance + next, kept congruent and within 128 bits.
KESTREL_CARRY_LESS inline __m128i Fold(__m128i sum, __m128i constants, __m128i next)
{
    const __m128i high = _mm_clmulepi64_si128(sum, constants, 0x11);
    const __m128i low = _mm_clmulepi64_si128(sum, constants, 0x00);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Zero bytes in front of a run do not change a CRC that starts from zero,
// so the run is padded in front to whole blocks and the start value is
// XORed into its first two bytes instead. The padded run is its head (the
// first two blocks, padding included) and whole blocks after it.
struct PaddedRun {
    PaddedRun(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
    {
        const std::size_t pad = (kBlockBytes - count % kBlockBytes) % kBlockBytes;
        const std::size_t headBytes = sizeof head - pad;
        std::memcpy(head + pad, bytes, headBytes);
        head[pad] ^= static_cast<unsigned char>(crc >> 8);
        head[pad + 1] ^= static_cast<unsigned char>(crc);
        rest = bytes + headBytes;
        restBlocks = (count - headBytes) / kBlockBytes;
    }

    alignas(16) unsigned char head[2 * kBlockBytes] = {};
    const unsigned char* rest;
    std::size_t restBlocks;
};

// Four blocks in one sum: block 0 moved by 384 bits, then 256, 128, 0.
KESTREL_CARRY_LESS inline __m128i FoldFour(__m128i block0, __m128i block1, __m128i block2, __m128i block3)
{
    return Fold(block0, FoldConstants<384>(), Fold(block1, FoldConstants<256>(), Fold(block2, FoldConstants<128>(), block3)));
}

// Folds the last blocks in one at a time, then reads off the CRC: the folded
// sum is congruent to the whole run, so its CRC from a zero register is the
// run's CRC.
KESTREL_CARRY_LESS std::uint16_t FinishCrc(__m128i sum, const unsigned char* bytes, std::size_t blocks)
{
    const __m128i byOneBlock = FoldConstants<128>();
    for (; blocks > 0; --blocks, bytes += kBlockBytes)
        sum = Fold(sum, byOneBlock, LoadBlock(bytes));
    alignas(16) unsigned char folded[kBlockBytes];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), MostSignificantFirst(sum));
    return Crc16ByTable(0, folded, kBlockBytes);
}

// The same folding, four blocks to a 512-bit register.
KESTREL_CARRY_LESS_WIDE inline __m512i LoadFourBlocks(const unsigned char* bytes)
{
    // Bytes 15 down to 0 in each block, as in MostSignificantFirst.
    const __m512i reverse = _mm512_set4_epi32(0x00010203, 0x04050607, 0x08090A0B, 0x0C0D0E0F);
    return _mm512_shuffle_epi8(_mm512_loadu_si512(bytes), reverse);
}

template <unsigned Distance>
KESTREL_CARRY_LESS_WIDE inline __m512i FoldConstantsWide()
{
    constexpr long long kHighHalf = PowerOfXModPolynomial(Distance + 64);
    constexpr long long kLowHalf = PowerOfXModPolynomial(Distance);
    return _mm512_set4_epi64(kHighHalf, kLowHalf, kHighHalf, kLowHalf);
}

KESTREL_CARRY_LESS_WIDE inline __m512i FoldWide(__m512i sum, __m512i constants, __m512i next)
{
    const __m512i high = _mm512_clmulepi64_epi128(sum, constants, 0x11);
    const __m512i low = _mm512_clmulepi64_epi128(sum, constants, 0x00);
    return _mm512_ternarylogic_epi64(high, low, next, 0x96); // high ^ low ^ next
}

} // namespace

KESTREL_CARRY_LESS std::uint16_t Crc16CarryLess(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    const PaddedRun run(crc, bytes, count);
    const unsigned char* at = run.rest;
    __m128i sum0 = LoadBlock(run.head);
    __m128i sum1 = LoadBlock(run.head + kBlockBytes);
    __m128i sum2 = LoadBlock(at);
    __m128i sum3 = LoadBlock(at + kBlockBytes);
    at += 2 * kBlockBytes;
    std::size_t blocks = run.restBlocks - 2;

    const __m128i byFourBlocks = FoldConstants<512>();
    for (; blocks >= 4; blocks -= 4, at += 4 * kBlockBytes) {
        sum0 = Fold(sum0, byFourBlocks, LoadBlock(at));
        sum1 = Fold(sum1, byFourBlocks, LoadBlock(at + kBlockBytes));
        sum2 = Fold(sum2, byFourBlocks, LoadBlock(at + 2 * kBlockBytes));
        sum3 = Fold(sum3, byFourBlocks, LoadBlock(at + 3 * kBlockBytes));
    }
    return FinishCrc(FoldFour(sum0, sum1, sum2, sum3), at, blocks);
}

KESTREL_CARRY_LESS_WIDE std::uint16_t Crc16CarryLessWide(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    const PaddedRun run(crc, bytes, count);
    // The first eight blocks: the head's two, then six of the rest.
    alignas(64) unsigned char first[4 * kBlockBytes];
    std::memcpy(first, run.head, sizeof run.head);
    std::memcpy(first + sizeof run.head, run.rest, 2 * kBlockBytes);
    __m512i sum0 = LoadFourBlocks(first);
    __m512i sum1 = LoadFourBlocks(run.rest + 2 * kBlockBytes);
    const unsigned char* at = run.rest + 6 * kBlockBytes;
    std::size_t blocks = run.restBlocks - 6;

    const __m512i byEightBlocks = FoldConstantsWide<1024>();
    for (; blocks >= 8; blocks -= 8, at += 8 * kBlockBytes) {
        sum0 = FoldWide(sum0, byEightBlocks, LoadFourBlocks(at));
        sum1 = FoldWide(sum1, byEightBlocks, LoadFourBlocks(at + 4 * kBlockBytes));
    }
    // Its four lanes, through memory: gcc 12 warns about the extract intrinsics.
    alignas(64) __m128i lanes[4];
    _mm512_store_si512(lanes, FoldWide(sum0, FoldConstantsWide<512>(), sum1));
    return FinishCrc(FoldFour(lanes[0], lanes[1], lanes[2], lanes[3]), at, blocks);
}

#undef KESTREL_CARRY_LESS
#undef KESTREL_CARRY_LESS_WIDE

} // namespace kestrel

#else

namespace kestrel {

bool CarryLessCrc16Supported()
{
    return false;
}

bool WideCarryLessCrc16Supported()
{
    return false;
}

std::uint16_t Crc16CarryLess(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    return Crc16ByTable(crc, bytes, count);
}

std::uint16_t Crc16CarryLessWide(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    return Crc16ByTable(crc, bytes, count);
}

} // namespace kestrel

#endif
