// Link-record frames fed in 8192-byte datagrams, back to back or with as
// many garbage bytes as frame bytes: the channel's frame finder against the
// straightforward one.
#include "bench/ReferenceFrameFinder.h"
#include "channel/FrameFinder.h"
#include "channel/LinkRecordFrame.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

using kestrel::kLinkRecordFrameSize;

constexpr int kFramesPerStream = 512;
constexpr std::size_t kDatagramSize = 8192;

// Garbage without sync bytes, so both finders deliver every frame.
std::vector<unsigned char> LinkRecordStream(bool withGarbage)
{
    std::mt19937 random(2024);
    std::vector<unsigned char> stream;
    for (int i = 0; i < kFramesPerStream; ++i) {
        if (withGarbage) {
            for (std::size_t g = 0; g < kLinkRecordFrameSize; ++g)
                stream.push_back(static_cast<unsigned char>(random() % kestrel::kFrameSyncByte));
        }
        kestrel::LinkRecord record{};
        std::snprintf(record.name, sizeof record.name, "link%d", i);
        std::snprintf(record.url, sizeof record.url, "http://127.0.0.1/page%d.html", i);
        unsigned char frame[kLinkRecordFrameSize];
        kestrel::EncodeLinkRecordFrame(record, static_cast<unsigned char>(i & 1), frame);
        stream.insert(stream.end(), frame, frame + sizeof frame);
    }
    return stream;
}

template <typename Finder, typename Handler>
void FeedInDatagrams(Finder& finder, const std::vector<unsigned char>& stream, Handler& handler)
{
    for (std::size_t offset = 0; offset < stream.size(); offset += kDatagramSize)
        finder.Feed(stream.data() + offset, std::min(kDatagramSize, stream.size() - offset), handler);
}

void Report(benchmark::State& state, long framesSeen, const std::vector<unsigned char>& stream)
{
    if (framesSeen != static_cast<long>(state.iterations()) * kFramesPerStream)
        state.SkipWithError("frames were lost");
    state.counters["frames"] = benchmark::Counter(static_cast<double>(framesSeen), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}

void BM_FrameFinder(benchmark::State& state)
{
    const std::vector<unsigned char> stream = LinkRecordStream(state.range(0) != 0);
    auto finder = std::make_unique<kestrel::CFrameFinder>();
    long framesSeen = 0;
    auto handler = [&framesSeen](kestrel::FrameView frame) {
        benchmark::DoNotOptimize(frame.Marker());
        ++framesSeen;
    };
    for (auto _ : state)
        FeedInDatagrams(*finder, stream, handler);
    Report(state, framesSeen, stream);
}

void BM_ReferenceFrameFinder(benchmark::State& state)
{
    const std::vector<unsigned char> stream = LinkRecordStream(state.range(0) != 0);
    auto finder = std::make_unique<kestrel::bench::ReferenceFrameFinder>();
    long framesSeen = 0;
    auto handler = [&framesSeen](unsigned char* frame, std::size_t) {
        benchmark::DoNotOptimize(frame[kestrel::kFrameMarkerOffset]);
        ++framesSeen;
    };
    for (auto _ : state)
        FeedInDatagrams(*finder, stream, handler);
    Report(state, framesSeen, stream);
}

} // namespace

// Argument: 0 for frames back to back, 1 for half the stream garbage.
BENCHMARK(BM_FrameFinder)->ArgName("garbage")->Arg(0)->Arg(1);
BENCHMARK(BM_ReferenceFrameFinder)->ArgName("garbage")->Arg(0)->Arg(1);
