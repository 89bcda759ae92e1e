// Benchmark of a large remote directory in the running window (offscreen): the main window
// connects to TARNWICK_BENCH_URL (an ftp:// URL of a directory, e.g. one of 100,000 entries
// served by bench/pane_window.sh), and reports
//   shown_ms        from the end of the listing's data (the session's "Listing Complete", as
//                   the log reports it) to the remote pane holding every entry and painted,
//   longest_gap_ms  the longest gap between the ticks of a 10 ms timer on the GUI thread from
//                   the connect until half a second after the pane was shown,
//   VmRSS_MB        the process's resident memory then, with a second session open.
// Without the variable the benchmark is skipped.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "gui_bench_support.h"
#include "panes/file_pane_view.h"

namespace {

using tarnwick::gui::FilePaneView;
using tarnwick::gui::MainWindow;
using tarnwick::gui::MainWindowContext;

FilePaneView* RemotePane(const MainWindow& window) {
    for (FilePaneView* pane : window.findChildren<FilePaneView*>()) {
        if (pane->IsRemote()) return pane;
    }
    return nullptr;
}

void BM_LargeRemoteDirectoryInTheWindow(benchmark::State& state) {
    const char* url = std::getenv("TARNWICK_BENCH_URL");
    if (url == nullptr || *url == '\0') {
        state.SkipWithError("TARNWICK_BENCH_URL is not set (bench/pane_window.sh sets it)");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir home;
        MainWindowContext context;
        context.programHome = home.path().toStdString() + "/";
        MainWindow window(std::move(context));
        window.resize(1200, 800);
        window.show();

        tarnwick::bench::GapWatch clock;
        // The pane's own slots run first on the listing-done report, so the listing's end is
        // taken from the log line that precedes the parse.
        qint64 listingEnd = -1;
        size_t listed = 0;
        auto& bridge = window.Bridge();
        using tarnwick::gui::SessionBridge;
        QObject::connect(&bridge, &SessionBridge::listing, &window,
                         [&](tarnwick::SessionId, bool done, const tarnwick::ListingInfo& info) {
                             if (done && info.entries) listed = info.entries->size();
                         });
        QObject::connect(&bridge, &SessionBridge::logLine, &window,
                         [&](tarnwick::SessionId, const tarnwick::LogRecord& record) {
                             if (record.text == "Listing Complete") listingEnd = clock.Elapsed();
                         });
        window.ConnectUrl(QString::fromUtf8(url));

        qint64 shown = -1;
        while (clock.Elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            FilePaneView* pane = RemotePane(window);
            if (listingEnd >= 0 && listed > 1 && pane != nullptr &&
                static_cast<size_t>(pane->Model().rowCount()) + 1 >= listed) {
                QApplication::processEvents();  // the paint of the filled pane
                shown = clock.Elapsed();
                break;
            }
        }
        if (shown < 0) {
            state.SkipWithError("the listing was not shown within two minutes");
            return;
        }
        tarnwick::SiteSetting idle;  // a second site, open but not connected
        idle.address = "127.0.0.1";
        idle.port = 1;
        window.Sessions().Add(
            std::make_shared<tarnwick::CFtpSession>(idle, nullptr, window.Bridge()));
        const qint64 until = clock.Elapsed() + 500;
        while (clock.Elapsed() < until) QApplication::processEvents(QEventLoop::AllEvents, 5);

        state.counters["entries"] = static_cast<double>(listed);
        state.counters["shown_ms"] = static_cast<double>(shown - listingEnd);
        state.counters["longest_gap_ms"] = static_cast<double>(clock.LongestGap());
        state.counters["VmRSS_MB"] = tarnwick::bench::VmRssMb();
    }
}
BENCHMARK(BM_LargeRemoteDirectoryInTheWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
