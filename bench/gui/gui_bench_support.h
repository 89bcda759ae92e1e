// What the desktop program's benchmarks share: the process's resident memory and the longest
// gap between the ticks of a 10 ms timer on the GUI thread.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace tarnwick::bench {

inline double VmRssMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Starts a 10 ms timer at construction and keeps the longest gap between its ticks (from the
// construction on), in milliseconds.
class GapWatch {
public:
    GapWatch() {
        clock.start();
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
        });
        ticker.start(10);
    }
    qint64 Elapsed() const { return clock.elapsed(); }
    qint64 LongestGap() const { return longest; }

private:
    QElapsedTimer clock;
    QTimer ticker;
    qint64 lastTick = 0;
    qint64 longest = 0;
};

// The main function of a benchmark program: a QApplication on the offscreen platform unless
// QT_QPA_PLATFORM names another, then the benchmarks the command line selects.
inline int RunGuiBenchmarks(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace tarnwick::bench
