// The window while a broadcaster churns twenty links whose pictures lie on a
// server that never answers: one caption changed every half second. Key
// presses are queued for the window every 20 ms as the window system would
// queue them; the longest gap between two of them being handled is how long
// a pupil's clicks and keys went unanswered (goal: under 300 ms). The
// picture server counts the requests it got, as requests per minute.
//
// Built from the window's public members only, so the same file measures an
// older window in a build of its own.

#include "tests/support/LinkRecordBuilder.h"
#include "tests/support/TestHttpServer.h"
#include "tests/ui/ClockWatch.h"
#include "tests/ui/QueuedInput.h"
#include "tests/ui/TestProgram.h"
#include "ui/ClassroomLinks.h"
#include "ui/MainDlg.h"

#include "bench/WindowBenchMain.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <string>

namespace kestrel {
namespace {

// Over a minute, so the requests per minute include the asking again of
// pictures whose last fetch is no longer fresh.
constexpr int kChurnMs = 65000;
constexpr int kCaptionPeriodMs = 500;
constexpr int kKeyPeriodMs = 20;
// The engine and the window settle before anything is measured.
constexpr int kSettleMs = 3000;
constexpr int kProbeKey = Qt::Key_F20;

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Marks every probe key press the window handles.
class KeyWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == kProbeKey
            && !static_cast<QKeyEvent*>(event)->isAutoRepeat() && watched->isWidgetType()
            && static_cast<QWidget*>(watched)->isWindow())
            handled.Mark();
        return false;
    }
    LifeSigns handled;
};

LinkRecord ChurnedLink(const test::CTestHttpServer& server, int k, int change)
{
    const std::string name = "lesson" + std::to_string(k);
    return test::LinkRecordBuilder(name)
        .Caption("caption " + std::to_string(change) + " of " + name)
        .Url("http://127.0.0.1:9/" + name + ".html")
        .HotPicture(server.Url("/hot" + std::to_string(k) + ".bmp"))
        .CoolPicture(server.Url("/cool" + std::to_string(k) + ".bmp"));
}

void BM_InputDuringChurnWithSilentPictures(benchmark::State& state)
{
    for (auto _ : state) {
        test::CTestHttpServer server;
        server.AnswerOthers(test::Reply().Silent());
        TestProgram program;
        CMainDlg dlg(program.SettingsPath(), program.Receiver());
        // Nothing opens by itself: the engine stays idle.
        dlg.findChild<CClassroomLinks*>()->UserNavigated();
        Wait(kSettleMs);

        KeyWatch keys;
        qApp->installEventFilter(&keys);
        for (int k = 1; k <= kMaxLinks; ++k)
            program.Receiver().AddRecord(ChurnedLink(server, k, 0));
        int change = 0;
        QTimer churn;
        QObject::connect(&churn, &QTimer::timeout, [&] {
            ++change;
            program.Receiver().AddRecord(ChurnedLink(server, change % kMaxLinks + 1, change));
        });
        QTimer typing;
        QObject::connect(&typing, &QTimer::timeout, [&] { QueueKeyPress(&dlg, kProbeKey); });
        QElapsedTimer elapsed;
        elapsed.start();
        churn.start(kCaptionPeriodMs);
        typing.start(kKeyPeriodMs);
        Wait(kChurnMs);
        typing.stop();
        churn.stop();
        const qint64 churnedMs = elapsed.elapsed();
        qApp->removeEventFilter(&keys);

        state.SetIterationTime(churnedMs / 1000.0);
        state.counters["longest_input_gap_ms"] = static_cast<double>(keys.handled.LongestSilenceMs());
        state.counters["keys_handled"] = keys.handled.Count();
        state.counters["requests"] = server.RequestCount();
        state.counters["requests_per_minute"] = server.RequestCount() * 60000.0 / churnedMs;
        state.counters["caption_changes"] = change;
        dlg.OnCancel();
    }
}
BENCHMARK(BM_InputDuringChurnWithSilentPictures)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kestrel

int main(int argc, char** argv)
{
    return kestrel::bench::RunWindowBenchmarks(argc, argv);
}
