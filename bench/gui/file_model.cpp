// The remote pane's model over a 100,000-entry listing: parse, fill (texts made once) and the
// first sort by name; the same without the parse (the GUI thread's share); then a re-sort by
// each column.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <random>
#include <string>

#include "../generated_listing.h"
#include "gui_bench_support.h"
#include "listing/listing_parser.h"
#include "panes/file_model.h"

namespace {

using namespace tarnwick;

constexpr int kEntries = 100000;

const std::string& ListingText() {
    static const std::string text = [] {
        std::mt19937 random(7);
        std::string result;
        for (int i = 0; i < kEntries; ++i) {
            const std::string name = "file_" + std::to_string(random() % 1000000) +
                                     (i % 3 == 0   ? ".txt"
                                      : i % 3 == 1 ? ".tar.gz"
                                                   : "");
            result += bench::UnixListingLine(random, i % 10 == 0, random() % (1ULL << 34), name);
        }
        return result;
    }();
    return text;
}

void ParseFillSort(benchmark::State& state) {
    for (auto _ : state) {
        FileEntryList entries;
        ParseListingText(entries, ListingText());
        gui::RemoteFileModel model;
        model.SetEntries(std::move(entries));  // sorted by name on the way in
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(ParseFillSort)->Unit(benchmark::kMillisecond);

// What the GUI thread does with a listing the session parsed: copy, fill, sort.
void FillSort(benchmark::State& state) {
    FileEntryList entries;
    ParseListingText(entries, ListingText());
    for (auto _ : state) {
        gui::RemoteFileModel model;
        model.SetEntries(entries);
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(FillSort)->Unit(benchmark::kMillisecond);

void Resort(benchmark::State& state) {
    FileEntryList entries;
    ParseListingText(entries, ListingText());
    gui::RemoteFileModel model;
    model.SetEntries(std::move(entries));
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        model.ToggleSort(column);
        benchmark::DoNotOptimize(model.Entry(0).name.data());
    }
}
BENCHMARK(Resort)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return tarnwick::bench::RunGuiBenchmarks(argc, argv);
}
