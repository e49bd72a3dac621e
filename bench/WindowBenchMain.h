#pragma once

#include <QApplication>
#include <QByteArray>

#include <benchmark/benchmark.h>

namespace kestrel::bench {

// The main of a benchmark that runs the real window and engine: no screen,
// no sandbox, no GPU, then every benchmark of the program.
inline int RunWindowBenchmarks(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-dev-shm-usage");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace kestrel::bench
