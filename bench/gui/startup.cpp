// Benchmarks of the desktop program's shell (offscreen): the time from constructing the main
// window to its first paint, the process's resident memory with the window shown and two sessions
// open, and the longest gap of a 10 ms timer while the log view takes 10,000 lines in one second.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "gui_bench_support.h"
#include "log/log_view.h"

namespace {

using tarnwick::SiteSetting;
using tarnwick::gui::LogView;
using tarnwick::gui::MainWindow;
using tarnwick::gui::MainWindowContext;

// Notes when the watched widget is first painted.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint || event->type() == QEvent::Expose) painted = true;
        return QObject::eventFilter(watched, event);
    }
};

MainWindowContext TempContext(const QTemporaryDir& home) {
    MainWindowContext context;
    context.programHome = home.path().toStdString() + "/";
    return context;
}

void BM_StartUpToFirstPaint(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir home;
        QElapsedTimer clock;
        clock.start();
        MainWindow window(TempContext(home));
        PaintWatch watch;
        window.installEventFilter(&watch);
        window.show();
        while (!watch.painted && clock.elapsed() < 5000) QApplication::processEvents();
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    }
}
BENCHMARK(BM_StartUpToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IdleRss(benchmark::State& state) {
    QTemporaryDir home;
    MainWindow window(TempContext(home));
    window.show();
    SiteSetting site;  // nobody listens on port 1: the sessions stay open, not connected
    site.address = "127.0.0.1";
    site.port = 1;
    for (int i = 0; i < 2; ++i) {
        window.Sessions().Add(
            std::make_shared<tarnwick::CFtpSession>(site, nullptr, window.Bridge()));
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500) QApplication::processEvents();
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::bench::VmRssMb());
    state.counters["VmRSS_MB"] = tarnwick::bench::VmRssMb();
}
BENCHMARK(BM_IdleRss)->Iterations(1);

void BM_LogThroughputTimerGap(benchmark::State& state) {
    for (auto _ : state) {
        LogView view;
        view.resize(800, 300);
        view.show();
        tarnwick::bench::GapWatch clock;
        constexpr int kLines = 10000;
        int fed = 0;
        QTimer feeder;  // 100 lines every 10 ms: 10,000 lines in one second
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            for (int i = 0; i < 100 && fed < kLines; ++i, ++fed) {
                tarnwick::LogRecord record;
                record.text = "226 Transfer complete, line " + std::to_string(fed);
                record.kind = fed % 4;
                view.AddRecord(record);
            }
        });
        feeder.start(10);
        while (fed < kLines && clock.Elapsed() < 10000) QApplication::processEvents();
        const qint64 until = clock.Elapsed() + 100;
        while (clock.Elapsed() < until) QApplication::processEvents();
        state.counters["longest_gap_ms"] = static_cast<double>(clock.LongestGap());
        state.counters["feed_ms"] = static_cast<double>(clock.Elapsed() - 100);
    }
}
BENCHMARK(BM_LogThroughputTimerGap)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
