// A link-button rebuild fetches both pictures of every link and decodes
// them into icons. Twenty links against a loopback picture server that
// takes 20 ms for each answer: the rebuild should cost about one answer,
// not forty.

#include "catalogue/LinkCatalogue.h"
#include "channel/LinkRecordStore.h"
#include "tests/support/CountingCatalogueHost.h"
#include "tests/support/LinkRecordBuilder.h"
#include "ui/LinkPictures.h"

#include "DelayedPictureServer.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <string>

namespace kestrel {
namespace {

constexpr std::chrono::milliseconds kAnswerDelay{20};

// A 24 x 24 BMP with a magenta background, as a school's server has them.
std::string PictureFile()
{
    QImage image(24, 24, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    image.setPixelColor(12, 12, Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

void BM_RebuildPicturesOf20Links(benchmark::State& state)
{
    CDelayedPictureServer server(PictureFile(), kAnswerDelay);
    CLinkRecordStore store;
    for (int k = 1; k <= kMaxLinks; ++k) {
        store.AddRecord(test::LinkRecordBuilder("lesson" + std::to_string(k))
                            .HotPicture(server.Url(2 * k))
                            .CoolPicture(server.Url(2 * k + 1)));
    }
    test::CountingCatalogueHost host;
    CLinkCatalogue catalogue;
    catalogue.Merge(store, host);

    int icons = 0;
    for (auto _ : state)
        icons = static_cast<int>(FetchLinkIcons(catalogue).size());
    if (icons != kMaxLinks)
        state.SkipWithError("not every link got its icon");
}
BENCHMARK(BM_RebuildPicturesOf20Links)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    // Icons need a GUI application, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
