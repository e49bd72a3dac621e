// The pictures of a first link-button rebuild: both pictures of every link,
// fetched in the background and decoded into icons. Twenty links against a
// loopback picture server that takes 20 ms for each answer: all of them
// should be in after about one answer, not forty.

#include "base/LinkRecord.h"
#include "ui/LinkPictures.h"

#include "tests/support/TestHttpServer.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>

#include <string>
#include <vector>

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
    test::CTestHttpServer server;
    server.AnswerOthers(test::Reply(PictureFile()).Type("image/bmp").Delay(kAnswerDelay));
    std::vector<std::string> urls;
    for (int k = 1; k <= kMaxLinks; ++k) {
        urls.push_back(server.Url("/hot" + std::to_string(k) + ".bmp"));
        urls.push_back(server.Url("/cool" + std::to_string(k) + ".bmp"));
    }

    int icons = 0;
    for (auto _ : state) {
        // A window that knows no picture yet.
        QEventLoop loop;
        int arrived = 0;
        CLinkPictures pictures([&](const std::string&) {
            if (++arrived == static_cast<int>(urls.size()))
                loop.quit();
        });
        for (const std::string& url : urls)
            pictures.Request(url);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        icons = 0;
        for (std::size_t i = 0; i + 1 < urls.size(); i += 2)
            icons += !pictures.Picture(urls[i]).isNull() && !pictures.Picture(urls[i + 1]).isNull();
    }
    if (icons != kMaxLinks)
        state.SkipWithError("not every link got its pictures");
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
