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

// The attribute, not a target pragma, so that gcc and clang both take it.
#define KESTREL_CARRY_LESS __attribute__((target("pclmul,ssse3")))

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

} // namespace

KESTREL_CARRY_LESS std::uint16_t Crc16CarryLess(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    // Zero bytes in front of a run do not change a CRC that starts from
    // zero, so the run is padded in front to whole blocks and the start
    // value is XORed into its first two bytes instead.
    const std::size_t pad = (kBlockBytes - count % kBlockBytes) % kBlockBytes;
    alignas(16) unsigned char head[2 * kBlockBytes] = {};
    const std::size_t headBytes = sizeof head - pad;
    std::memcpy(head + pad, bytes, headBytes);
    head[pad] ^= static_cast<unsigned char>(crc >> 8);
    head[pad + 1] ^= static_cast<unsigned char>(crc);
    bytes += headBytes;
    std::size_t blocks = (count - headBytes) / kBlockBytes;

    __m128i sum0 = LoadBlock(head);
    __m128i sum1 = LoadBlock(head + kBlockBytes);
    __m128i sum2 = LoadBlock(bytes);
    __m128i sum3 = LoadBlock(bytes + kBlockBytes);
    bytes += 2 * kBlockBytes;
    blocks -= 2;

    const __m128i byFourBlocks = FoldConstants<512>();
    for (; blocks >= 4; blocks -= 4, bytes += 4 * kBlockBytes) {
        sum0 = Fold(sum0, byFourBlocks, LoadBlock(bytes));
        sum1 = Fold(sum1, byFourBlocks, LoadBlock(bytes + kBlockBytes));
        sum2 = Fold(sum2, byFourBlocks, LoadBlock(bytes + 2 * kBlockBytes));
        sum3 = Fold(sum3, byFourBlocks, LoadBlock(bytes + 3 * kBlockBytes));
    }
    __m128i sum = Fold(sum0, FoldConstants<384>(), Fold(sum1, FoldConstants<256>(), Fold(sum2, FoldConstants<128>(), sum3)));

    const __m128i byOneBlock = FoldConstants<128>();
    for (; blocks > 0; --blocks, bytes += kBlockBytes)
        sum = Fold(sum, byOneBlock, LoadBlock(bytes));

    // The folded sum is congruent to the whole run; its CRC from a zero
    // register is the run's CRC.
    alignas(16) unsigned char folded[kBlockBytes];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), MostSignificantFirst(sum));
    return Crc16ByTable(0, folded, kBlockBytes);
}

#undef KESTREL_CARRY_LESS

} // namespace kestrel

#else

namespace kestrel {

bool CarryLessCrc16Supported()
{
    return false;
}

std::uint16_t Crc16CarryLess(std::uint16_t crc, const unsigned char* bytes, std::size_t count)
{
    return Crc16ByTable(crc, bytes, count);
}

} // namespace kestrel

#endif
