// The frame check runs over every byte received. Compares the channel's CRC
// (and its table way, used where the processor lacks carry-less
// multiplication) with a one-table CRC and with boost's, over the 1165
// checked bytes of a link-record frame.
#include "bench/TableCrc16.h"
#include "channel/Crc16.h"
#include "channel/Crc16Table.h"

#include <benchmark/benchmark.h>
#include <boost/crc.hpp>

#include <random>
#include <vector>

namespace {

constexpr std::size_t kCheckedBytes = 1165;

std::vector<unsigned char> RunOfRandomBytes()
{
    std::mt19937 random(1165);
    std::vector<unsigned char> bytes(kCheckedBytes);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

template <typename Crc>
void MeasureCrc(benchmark::State& state, Crc crc)
{
    const std::vector<unsigned char> bytes = RunOfRandomBytes();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(crc(bytes.data(), bytes.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_Crc16Channel(benchmark::State& state)
{
    MeasureCrc(state, kestrel::Crc16);
}

void BM_Crc16ChannelTables(benchmark::State& state)
{
    MeasureCrc(state, [](const unsigned char* bytes, std::size_t count) {
        return kestrel::Crc16ByTable(kestrel::kCrc16Start, bytes, count);
    });
}

void BM_Crc16OneTable(benchmark::State& state)
{
    MeasureCrc(state, kestrel::bench::TableCrc16);
}

void BM_Crc16Boost(benchmark::State& state)
{
    MeasureCrc(state, [](const unsigned char* bytes, std::size_t count) {
        boost::crc_optimal<16, 0x1021, 0xFFFF, 0, false, false> crc;
        crc.process_bytes(bytes, count);
        return crc.checksum();
    });
}

} // namespace

BENCHMARK(BM_Crc16Channel);
BENCHMARK(BM_Crc16ChannelTables);
BENCHMARK(BM_Crc16OneTable);
BENCHMARK(BM_Crc16Boost);
