// Benchmark of a large imported queue in the running window (offscreen): a queue file of
// 10,000 download items, written once as the autosaved queue of a temporary program home, is
// imported by a fresh main window whose queue view then shows the new session. Reported:
//   import_ms   from the import call to the queue view's model holding every item,
//   shown_ms    from the import call until the events it posted were handled and the view
//               was painted,
//   inserts, resets   the model's rowsInserted and modelReset signals over that time (one
//               of them in all is the aim: the view fills in one step, not row by row),
//   rows        the rows shown at the end.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/open_sessions.h"
#include "gui_bench_support.h"
#include "queue/queue_file.h"
#include "queue/queue_view.h"

namespace {

using tarnwick::gui::MainWindow;
using tarnwick::gui::MainWindowContext;

constexpr int kItems = 10000;

// The queue file of kItems downloads from 127.0.0.1, written into the home once.
bool WriteQueueFile(const std::string& programHome) {
    tarnwick::QueueSection section{"127.0.0.1", {}};
    section.items.reserve(kItems);
    for (int i = 0; i < kItems; ++i) {
        const std::string name = "file" + std::to_string(i) + ".dat";
        section.items.push_back(tarnwick::MakeQueueItem(tarnwick::QueueOperation::kDownload,
                                                        "/tmp/queue-bench/download",
                                                        "/pub/many/" + name, 4096));
    }
    const auto saved =
        tarnwick::SaveQueues(tarnwick::AutosaveQueuePath(programHome), {std::move(section)});
    return saved.write == tarnwick::AtomicWriteResult::kWritten && saved.skippedItems == 0;
}

void BM_ImportLargeQueueIntoTheView(benchmark::State& state) {
    QTemporaryDir home;
    const std::string programHome = home.path().toStdString() + "/";
    if (!WriteQueueFile(programHome)) {
        state.SkipWithError("the queue file could not be written");
        return;
    }
    double importMs = 0, shownMs = 0, inserts = 0, resets = 0, rows = 0;
    for (auto _ : state) {
        MainWindowContext context;
        context.programHome = programHome;
        MainWindow window(std::move(context));
        window.resize(1200, 800);
        window.show();
        QApplication::processEvents();
        auto& model = window.Queue()->Model();
        int inserted = 0, reset = 0;
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++reset; });

        QElapsedTimer clock;
        clock.start();
        window.ImportAutosavedQueue();
        const qint64 imported = clock.nsecsElapsed();
        QApplication::processEvents();  // the changes the import posted, then the paint
        window.Queue()->viewport()->repaint();
        const qint64 shown = clock.nsecsElapsed();
        state.SetIterationTime(static_cast<double>(shown) / 1e9);

        if (model.rowCount() != kItems) {
            state.SkipWithError("the queue view does not show every imported item");
            return;
        }
        importMs += static_cast<double>(imported) / 1e6;
        shownMs += static_cast<double>(shown) / 1e6;
        inserts += inserted;
        resets += reset;
        rows = model.rowCount();
        state.PauseTiming();
        window.Queue()->ClearQueue();  // the paneless session goes with its queue
        QApplication::processEvents();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["import_ms"] = importMs / n;
    state.counters["shown_ms"] = shownMs / n;
    state.counters["inserts"] = inserts / n;
    state.counters["resets"] = resets / n;
    state.counters["rows"] = rows;
}
BENCHMARK(BM_ImportLargeQueueIntoTheView)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
