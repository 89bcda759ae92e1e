// ParseListingText over generated 1,000,000-line UNIX and DOS listings, with the local-time
// cache on and, as the baseline, off (one mktime per line, as a plain implementation does).
// lines/s is per CPU second: the machine is shared, so wall-clock time says little.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <ctime>
#include <random>
#include <string>

#include "generated_listing.h"
#include "listing/listing_parser.h"
#include "listing/local_time.h"

namespace {

constexpr int kLines = 1000000;

// Parsing happens in a zone with daylight saving, so the cache has transitions to respect.
void UseZoneWithDaylightSaving() {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
}

std::string RandomName(std::mt19937& random) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789_-.ABCDEFGHIJ";
    std::string name(4 + random() % 36, ' ');
    for (char& c : name) c = kChars[random() % (sizeof kChars - 1)];
    if (random() % 10 == 0) name[name.size() / 2] = ' ';  // an inner space now and then
    return name;
}

// Sizes spread over many orders of magnitude, a few above 4 GiB.
uint64_t RandomSize(std::mt19937& random) {
    return (uint64_t{random()} << 8 | random() % 256) >> (random() % 40);
}

std::string UnixListing() {
    std::mt19937 random(1);
    std::string text = "total 123456\n";
    for (int i = 0; i < kLines; ++i) {
        const bool directory = random() % 8 == 0;
        const uint64_t size = RandomSize(random);
        text += tarnwick::bench::UnixListingLine(random, directory, size, RandomName(random));
    }
    return text;
}

std::string DosListing() {
    std::mt19937 random(2);
    std::string text;
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        const bool directory = random() % 8 == 0;
        char sizeOrDir[24];
        if (directory) {
            std::snprintf(sizeOrDir, sizeof sizeOrDir, "%-14s", "<DIR>");
        } else {
            std::snprintf(sizeOrDir, sizeof sizeOrDir, "%14llu",
                          static_cast<unsigned long long>(RandomSize(random)));
        }
        std::snprintf(line, sizeof line, "%02u-%02u-%02u  %02u:%02u%s %s %s\n",
                      unsigned(1 + random() % 12), unsigned(1 + random() % 28),
                      unsigned((95 + random() % 30) % 100), unsigned(1 + random() % 12),
                      unsigned(random() % 60), random() % 2 ? "AM" : "PM", sizeOrDir,
                      RandomName(random).c_str());
        text += line;
    }
    return text;
}

const std::string& Listing(bool unix) {
    static const std::string unixText = UnixListing();
    static const std::string dosText = DosListing();
    return unix ? unixText : dosText;
}

void ParseListing(benchmark::State& state, bool unix, bool cache) {
    UseZoneWithDaylightSaving();
    const std::string& text = Listing(unix);
    tarnwick::LocalTimeCache::ForThisThread().SetEnabled(cache);
    size_t entries = 0;
    for (auto _ : state) {
        tarnwick::FileEntryList list;
        tarnwick::ParseListingText(list, text);
        entries = list.size();
        benchmark::DoNotOptimize(list.data());
        state.PauseTiming();  // freeing the entries is the caller's cost
        list = {};
        state.ResumeTiming();
    }
    tarnwick::LocalTimeCache::ForThisThread().SetEnabled(true);
    if (entries != kLines) state.SkipWithError("wrong number of entries");
    state.counters["lines/s"] = benchmark::Counter(double(kLines) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void BM_ParseUnixListing(benchmark::State& state) {
    ParseListing(state, true, true);
}
void BM_ParseDosListing(benchmark::State& state) {
    ParseListing(state, false, true);
}
void BM_ParseUnixListing_PlainMktime(benchmark::State& state) {
    ParseListing(state, true, false);
}
void BM_ParseDosListing_PlainMktime(benchmark::State& state) {
    ParseListing(state, false, false);
}

BENCHMARK(BM_ParseUnixListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUnixListing_PlainMktime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDosListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDosListing_PlainMktime)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
