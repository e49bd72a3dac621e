// A link-button rebuild fetches a picture for every link. Twenty pictures
// from a server that takes 20 ms for each answer: fetched as one batch they
// must take at most a fifth of the time they take one after another.

#include "net/PictureFetch.h"

#include "tests/support/TestHttpServer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {
namespace {

constexpr int kPictures = 20;
// A 24 x 24 picture at 24 bits per pixel as a BMP file.
constexpr std::size_t kPictureSize = 1782;
constexpr std::chrono::milliseconds kAnswerDelay{20};
constexpr double kRequiredSpeedUp = 5.0;

struct PictureSource {
    test::CTestHttpServer server;
    std::vector<std::string> urls;
    std::vector<const char*> texts;
    std::vector<FetchedBody> bodies = std::vector<FetchedBody>(kPictures);

    PictureSource()
    {
        server.AnswerOthers(test::Reply(std::string(kPictureSize, 'B')).Type("image/bmp").Delay(kAnswerDelay));
        for (int i = 0; i < kPictures; ++i)
            urls.push_back(server.Url("/picture" + std::to_string(i) + ".bmp"));
        for (const std::string& url : urls)
            texts.push_back(url.c_str());
    }

    bool AllFetched() const
    {
        for (const FetchedBody& body : bodies)
            if (body.size != kPictureSize)
                return false;
        return true;
    }
};

void BM_PicturesAsOneBatch(benchmark::State& state)
{
    PictureSource source;
    for (auto _ : state)
        FetchUrls(source.texts.data(), source.bodies.data(), kPictures);
    if (!source.AllFetched())
        state.SkipWithError("a picture did not arrive");
}

void BM_PicturesOneAfterAnother(benchmark::State& state)
{
    PictureSource source;
    for (auto _ : state)
        for (int i = 0; i < kPictures; ++i)
            FetchUrl(source.texts[i], source.bodies[i]);
    if (!source.AllFetched())
        state.SkipWithError("a picture did not arrive");
}

BENCHMARK(BM_PicturesAsOneBatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicturesOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the runs as usual and keeps each one's time per rebuild, so that
// the two ways can be compared at the end.
class CSpeedUpReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.benchmark_name();
            if (name.rfind("BM_PicturesAsOneBatch", 0) == 0)
                m_batchMs = run.GetAdjustedRealTime();
            else if (name.rfind("BM_PicturesOneAfterAnother", 0) == 0)
                m_oneByOneMs = run.GetAdjustedRealTime();
        }
    }

    double m_batchMs = 0;
    double m_oneByOneMs = 0;
};

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    kestrel::CSpeedUpReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.m_batchMs <= 0 || reporter.m_oneByOneMs <= 0)
        return 0;
    const double speedUp = reporter.m_oneByOneMs / reporter.m_batchMs;
    std::printf("batch of %d pictures: %.1f ms, one after another: %.1f ms, %.1f times faster (at least %.0f required)\n",
        kestrel::kPictures, reporter.m_batchMs, reporter.m_oneByOneMs, speedUp, kestrel::kRequiredSpeedUp);
    return speedUp >= kestrel::kRequiredSpeedUp ? 0 : 1;
}
