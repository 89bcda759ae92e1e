// Benchmark of a queue run in the running window (offscreen): the queue file
// TARNWICK_BENCH_QUEUE becomes the autosaved queue of a temporary program home, the sites of
// TARNWICK_BENCH_SITES (a site.dat, for the host's port and login) are the window's sites,
// and the main window imports the queue, starts the run on the imported session and waits
// for the run's end notice. Reported (bench/queue_run.sh sets both variables):
//   files_per_s      items done per second, from StartQueue to the end notice,
//   run_ms           that time,
//   longest_gap_ms   the longest gap between the ticks of a 10 ms timer on the GUI thread,
//   log_lines, queue_changes, model_changes   the log lines and queue changes the bridge
//                    delivered and the model's dataChanged/rowsRemoved signals, per item.
// Without the variables the benchmark is skipped.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/open_sessions.h"
#include "app/run_notifier.h"
#include "app/session_bridge.h"
#include "gui_bench_support.h"
#include "queue/queue_view.h"
#include "sites/site_file.h"

namespace {

using tarnwick::gui::MainWindow;
using tarnwick::gui::MainWindowContext;
using tarnwick::gui::RunNotifier;
using tarnwick::gui::SessionBridge;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void BM_QueueRunInTheWindow(benchmark::State& state) {
    const std::string queueFile = Env("TARNWICK_BENCH_QUEUE");
    const std::string siteFile = Env("TARNWICK_BENCH_SITES");
    if (queueFile.empty() || siteFile.empty()) {
        state.SkipWithError("TARNWICK_BENCH_QUEUE or TARNWICK_BENCH_SITES is not set");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir home;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        if (tarnwick::LoadSiteFile(siteFile, context.sites) != tarnwick::SiteFileResult::kOk ||
            !QFile::copy(
                QString::fromStdString(queueFile),
                QString::fromStdString(tarnwick::AutosaveQueuePath(context.programHome)))) {
            state.SkipWithError("the site file or the queue file could not be read");
            return;
        }
        MainWindow window(std::move(context));
        window.resize(1200, 800);
        window.show();
        QApplication::processEvents();

        window.ImportAutosavedQueue();
        const auto& open = window.Sessions().Sessions();
        if (open.size() != 1) {
            state.SkipWithError("the queue file did not open exactly one session");
            return;
        }
        auto session = open.front();
        auto& model = window.Queue()->Model();
        const int items = model.rowCount();
        size_t logLines = 0, queueChanges = 0, modelChanges = 0;
        auto& bridge = window.Bridge();
        QObject::connect(&bridge, &SessionBridge::logLine, [&] { ++logLines; });
        QObject::connect(&bridge, &SessionBridge::queueChanged, [&] { ++queueChanges; });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { ++modelChanges; });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&] { ++modelChanges; });
        QStringList notified;  // the end notices' messages
        QObject::connect(window.Runs(), &RunNotifier::notified,
                         [&](const QString&, const QString& message) { notified << message; });

        tarnwick::bench::GapWatch clock;
        if (!session->StartQueue()) {
            state.SkipWithError("the run did not start");
            return;
        }
        while (notified.isEmpty() && clock.Elapsed() < 600000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const qint64 ran = clock.Elapsed();
        if (notified.isEmpty()) {
            state.SkipWithError("the run did not end within ten minutes");
            return;
        }
        const QString expected = QStringLiteral("127.0.0.1: %1 done, 0 failed").arg(items);
        if (notified.first() != expected) {
            state.SkipWithError(("the run ended with: " + notified.first().toStdString()).c_str());
            return;
        }
        const double perItem = items > 0 ? 1.0 / items : 0;
        state.counters["items"] = items;
        state.counters["run_ms"] = static_cast<double>(ran);
        state.counters["files_per_s"] =
            items * 1000.0 / static_cast<double>(std::max<qint64>(ran, 1));
        state.counters["longest_gap_ms"] = static_cast<double>(clock.LongestGap());
        state.counters["log_lines"] = static_cast<double>(logLines) * perItem;
        state.counters["queue_changes"] = static_cast<double>(queueChanges) * perItem;
        state.counters["model_changes"] = static_cast<double>(modelChanges) * perItem;
        window.Queue()->ClearQueue();  // the paneless session goes with its queue
        const qint64 until = clock.Elapsed() + 5000;
        while (!window.Sessions().Sessions().empty() && clock.Elapsed() < until)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}
BENCHMARK(BM_QueueRunInTheWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
