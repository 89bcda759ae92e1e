// The offline search dialog over a generated cache of 1,000,000 entries (10,000 directories
// of 100 listing lines): the whole search through the dialog's worker, with the time to its
// first result and the longest gap of a 10 ms timer on the GUI thread meanwhile, beside the
// same search run directly on the calling thread as the command line does. Two queries: one
// entry in seven ("*.txt") and every entry ("*"), which puts 1,000,000 rows in the list.
// The cache is generated once with a fixed seed in a temporary directory, removed at exit.
#include <benchmark/benchmark.h>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../generated_listing.h"
#include "gui_bench_support.h"
#include "search/offline_search.h"
#include "search/offline_search_dialog.h"

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

constexpr int kTop = 99, kBelow = 100, kLines = 100;
constexpr const char* kSite = "ftp.example.org";
const char* const kQueries[] = {"*.txt", "*"};
const char* const kExtensions[] = {".txt", ".pdf", ".jpg", ".tar.gz", ".txt.bak", ".c", ""};

void WriteListing(const fs::path& directory, int subdirectories, std::mt19937& random) {
    fs::create_directories(directory);
    std::string text;
    for (int i = 0; i < kLines; ++i) {
        const bool isDirectory = i < subdirectories;
        const std::string name = isDirectory ? "dir" + std::to_string(i)
                                             : "file_" + std::to_string(random() % 100000) +
                                                   kExtensions[random() % std::size(kExtensions)];
        text += bench::UnixListingLine(random, isDirectory, random() % 10000000, name);
    }
    std::ofstream(directory / "files.lis", std::ios::binary) << text;
}

const QTemporaryDir& Cache() {
    static const QTemporaryDir* home = [] {
        auto* dir = new QTemporaryDir;  // removed by the exit handler below
        std::mt19937 random(7);
        const fs::path site = fs::path(dir->path().toStdString()) / kSite;
        WriteListing(site, kTop, random);
        for (int top = 0; top < kTop; ++top) {
            const fs::path topDirectory = site / ("dir" + std::to_string(top));
            WriteListing(topDirectory, kBelow, random);
            for (int below = 0; below < kBelow; ++below)
                WriteListing(topDirectory / ("dir" + std::to_string(below)), 0, random);
        }
        std::atexit([] { delete home; });
        return dir;
    }();
    return *home;
}

// As the command line does: the walk on this thread, every result kept.
void DirectSearch(benchmark::State& state) {
    OfflineSearchRequest request{Cache().path().toStdString(), {kSite}, kQueries[state.range(0)]};
    std::size_t results = 0;
    for (auto _ : state) {
        std::vector<std::string> urls;
        OfflineSearchCallbacks callbacks;
        callbacks.resultFound = [&urls](const std::string& url) { urls.push_back(url); };
        results = RunOfflineSearch(request, callbacks).resultCount;
    }
    state.counters["results"] = static_cast<double>(results);
    state.SetLabel(kQueries[state.range(0)]);
}
BENCHMARK(DirectSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

QPushButton* ButtonOf(QWidget& dialog, const QString& text) {
    for (auto* button : dialog.findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

// Through the dialog: from the Search click until the list holds every result and the
// controls are back, the GUI thread running its event loop all along.
void DialogSearch(benchmark::State& state) {
    gui::OfflineSearchDialog dialog(Cache().path().toStdString());
    dialog.show();
    ButtonOf(dialog, QStringLiteral(">>"))->click();
    dialog.findChild<QLineEdit*>()->setText(QString::fromLatin1(kQueries[state.range(0)]));
    qint64 firstResult = 0, longestGap = 0;
    for (auto _ : state) {
        bench::GapWatch watch;
        qint64 first = -1;
        auto connection = QObject::connect(&dialog.Results(), &QAbstractItemModel::rowsInserted,
                                           [&] { first = first < 0 ? watch.Elapsed() : first; });
        QEventLoop loop;
        QObject::connect(&dialog, &gui::OfflineSearchDialog::searchFinished, &loop,
                         &QEventLoop::quit);
        QTimer::singleShot(0, [&dialog] { ButtonOf(dialog, QStringLiteral("Search"))->click(); });
        loop.exec();
        QObject::disconnect(connection);
        firstResult = std::max(firstResult, first);
        longestGap = std::max(longestGap, watch.LongestGap());
    }
    state.counters["first_result_ms"] = static_cast<double>(firstResult);
    state.counters["longest_gap_ms"] = static_cast<double>(longestGap);
    state.counters["results"] = dialog.Results().rowCount();
    state.SetLabel(kQueries[state.range(0)]);
}
BENCHMARK(DialogSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
