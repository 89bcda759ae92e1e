// The offline search over a generated cache of 1,000,000 entries in 10,000 directories (100
// UNIX-style lines per "files.lis"), beside `grep -r -c` over the same files in the same run.
// Both are timed in wall-clock time (grep runs in a child process, whose CPU time the
// benchmark would not see). Each wildcard has a grep expression that matches exactly the same
// lines of the generated listings; the program aborts before timing if the counts differ.
// The cache is generated once with a fixed seed in a temporary directory, removed at exit.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "generated_listing.h"
#include "search/offline_search.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTopDirectories = 99;      // below the site's root
constexpr int kSubdirectories = 100;     // below each top directory
constexpr int kEntriesPerListing = 100;  // lines of every files.lis, subdirectories included
constexpr const char* kSite = "ftp.example.org";

struct Query {
    const char* wildcard;
    const char* grepExpression;  // the same lines of the generated listings
};

const Query kQueries[] = {
    {"*.txt", R"(\.txt$)"},
    {"report_1*.pdf", R"( report_1[^ ]*\.pdf$)"},
};

const char* const kStems[] = {"report_", "notes_", "image_", "backup_", "data_", "readme_"};
const char* const kExtensions[] = {".txt", ".pdf", ".jpg", ".tar.gz", ".txt.bak", ".c", ""};

std::string ListingLine(std::mt19937& random, bool directory, const std::string& name) {
    const uint64_t size = random() % 10'000'000;
    return tarnwick::bench::UnixListingLine(random, directory, size, name);
}

// A listing naming the directory's subdirectories first, then files up to the entry count.
void WriteListing(const fs::path& directory, int subdirectories, std::mt19937& random) {
    fs::create_directories(directory);
    std::string text = "total 1234\n";
    for (int i = 0; i < subdirectories; ++i) {
        text += ListingLine(random, true, "dir" + std::to_string(i));
    }
    for (int i = subdirectories; i < kEntriesPerListing; ++i) {
        const std::string name = std::string(kStems[random() % std::size(kStems)]) +
                                 std::to_string(random() % 100'000) +
                                 kExtensions[random() % std::size(kExtensions)];
        text += ListingLine(random, false, name);
    }
    std::ofstream(directory / "files.lis", std::ios::binary) << text;
}

// 1 root + 99 top directories + 99 * 100 below them = 10,000 directories.
void GenerateCache(const fs::path& home) {
    std::mt19937 random(7);
    const fs::path site = home / kSite;
    WriteListing(site, kTopDirectories, random);
    for (int top = 0; top < kTopDirectories; ++top) {
        const fs::path topDirectory = site / ("dir" + std::to_string(top));
        WriteListing(topDirectory, kSubdirectories, random);
        for (int sub = 0; sub < kSubdirectories; ++sub) {
            WriteListing(topDirectory / ("dir" + std::to_string(sub)), 0, random);
        }
    }
}

class BenchCache {
public:
    BenchCache() {
        std::string name = (fs::temp_directory_path() / "tarnwick-search-XXXXXX").string();
        if (!mkdtemp(name.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        home_ = name;
        GenerateCache(home_);
    }
    ~BenchCache() {
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }
    const std::string& home() const { return home_; }

private:
    std::string home_;
};

BenchCache* cache = nullptr;  // owned by main

std::size_t SearchCount(const char* wildcard) {
    tarnwick::OfflineSearchRequest request;
    request.cacheHome = cache->home();
    request.sites = {kSite};
    request.text = wildcard;
    std::size_t urlBytes = 0;
    tarnwick::OfflineSearchCallbacks callbacks;
    callbacks.resultFound = [&urlBytes](const std::string& url) { urlBytes += url.size(); };
    const tarnwick::OfflineSearchResult result = tarnwick::RunOfflineSearch(request, callbacks);
    benchmark::DoNotOptimize(urlBytes);
    return result.resultCount;
}

// Runs grep -r -c and adds up its per-file counts ("path:count" lines).
std::size_t GrepCount(const char* expression) {
    const std::string command =
        std::string("grep -r -c -e '") + expression + "' '" + cache->home() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        std::perror("popen");
        std::abort();
    }
    std::size_t total = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        const char* colon = std::strrchr(line, ':');
        if (colon) total += std::strtoul(colon + 1, nullptr, 10);
    }
    pclose(pipe);
    return total;
}

void VerifyAgreement() {
    for (const Query& query : kQueries) {
        const std::size_t ours = SearchCount(query.wildcard);
        const std::size_t grep = GrepCount(query.grepExpression);
        std::fprintf(stderr, "%-16s %zu results (grep: %zu lines)\n", query.wildcard, ours, grep);
        if (ours != grep) std::abort();
    }
}

void SetCounters(benchmark::State& state, std::size_t results) {
    const double entries =
        double{kEntriesPerListing} * (1 + kTopDirectories * (1 + kSubdirectories));
    state.counters["entries/s"] =
        benchmark::Counter(entries, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["results"] = static_cast<double>(results);
    state.SetLabel(kQueries[state.range(0)].wildcard);
}

void BM_OfflineSearch(benchmark::State& state) {
    std::size_t results = 0;
    for (auto _ : state) results = SearchCount(kQueries[state.range(0)].wildcard);
    SetCounters(state, results);
}

void BM_GrepPeer(benchmark::State& state) {
    std::size_t results = 0;
    for (auto _ : state) results = GrepCount(kQueries[state.range(0)].grepExpression);
    SetCounters(state, results);
}

BENCHMARK(BM_OfflineSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GrepPeer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    BenchCache benchCache;
    cache = &benchCache;
    VerifyAgreement();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cache = nullptr;
    return 0;
}
