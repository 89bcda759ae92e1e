// Whole-name matching speed of the pattern engine against RE2 and std::regex on the same
// generated file names (10,000,000 names of mean length about 20, part of them matching).
// All three must agree on how many names match, or the program aborts before timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "search/pattern_engine.h"

#ifdef TARNWICK_HAVE_RE2
#include <re2/re2.h>
#endif

namespace {

constexpr std::size_t kNameCount = 10'000'000;
constexpr std::size_t kRegexNameCount = 200'000;  // std::regex is slow: a prefix of the names

struct PatternPair {
    const char* ours;
    const char* ecmascript;  // the same language for RE2 and std::regex
};

// "[A-Z]\i" folds upper case to lower case only, so it is "[A-Za-z]" elsewhere.
const PatternPair kPatterns[] = {
    {R"(.*\.txt)", R"(.*\.txt)"},
    {R"([A-Z]\i[a-z0-9_]*(\.tar)?\.gz)", R"([A-Za-z][a-z0-9_]*(\.tar)?\.gz)"},
};

// Every name back to back in one buffer; name i is bytes[offsets[i], offsets[i + 1]).
struct NameSet {
    std::string bytes;
    std::vector<uint32_t> offsets;

    std::size_t size() const { return offsets.size() - 1; }
    std::string_view operator[](std::size_t i) const {
        return std::string_view(bytes).substr(offsets[i], offsets[i + 1] - offsets[i]);
    }
};

NameSet GenerateNames() {
    static const char* const kExtensions[] = {".txt", ".gz",  ".tar.gz", ".txt.bak", ".c",
                                              ".jpg", ".tgz", "",        ".tar",     ".TXT"};
    static const char kLower[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
    static const char kAny[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_- .";
    std::mt19937 random(42);
    auto pick = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    NameSet names;
    names.bytes.reserve(kNameCount * 21);
    names.offsets.reserve(kNameCount + 1);
    names.offsets.push_back(0);
    for (std::size_t i = 0; i < kNameCount; ++i) {
        const std::size_t stemLength = 6 + pick(21);  // 6..26
        names.bytes += static_cast<char>(pick(2) ? 'A' + pick(26) : 'a' + pick(26));
        // Half the stems keep to the second pattern's alphabet, half use anything.
        const bool plain = pick(2) == 0;
        for (std::size_t k = 1; k < stemLength; ++k) {
            names.bytes += plain ? kLower[pick(sizeof kLower - 1)] : kAny[pick(sizeof kAny - 1)];
        }
        names.bytes += kExtensions[pick(std::size(kExtensions))];
        names.offsets.push_back(static_cast<uint32_t>(names.bytes.size()));
    }
    return names;
}

const NameSet& Names() {
    static const NameSet names = GenerateNames();
    return names;
}

tarnwick::CPatternEngine CompileOurs(const PatternPair& pattern) {
    tarnwick::CPatternEngine engine;
    const tarnwick::PatternCompileResult result = engine.Compile(pattern.ours);
    if (result.status != tarnwick::kPatternCompiled) {
        std::fprintf(stderr, "cannot compile %s: %s\n", pattern.ours, result.message.c_str());
        std::abort();
    }
    return engine;
}

std::size_t CountOurs(const tarnwick::CPatternEngine& engine, const NameSet& names,
                      std::size_t count) {
    std::size_t matches = 0;
    for (std::size_t i = 0; i < count; ++i) matches += engine.MatchWhole(names[i]) ? 1 : 0;
    return matches;
}

std::size_t CountStdRegex(const std::regex& regex, const NameSet& names, std::size_t count) {
    std::size_t matches = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view name = names[i];
        matches += std::regex_match(name.begin(), name.end(), regex) ? 1 : 0;
    }
    return matches;
}

#ifdef TARNWICK_HAVE_RE2
RE2::Options Re2Options() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);  // bytes are bytes
    options.set_dot_nl(true);
    return options;
}

std::size_t CountRe2(const RE2& regex, const NameSet& names, std::size_t count) {
    std::size_t matches = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view name = names[i];
        matches += RE2::FullMatch(re2::StringPiece(name.data(), name.size()), regex) ? 1 : 0;
    }
    return matches;
}
#endif

void CheckAgreement(const char* what, std::size_t ours, std::size_t theirs) {
    if (ours == theirs) return;
    std::fprintf(stderr, "%s: match counts differ: ours %zu, theirs %zu\n", what, ours, theirs);
    std::abort();
}

// Run once before any timing: every engine must count the same matches.
void VerifyAgreement() {
    const NameSet& names = Names();
    for (const PatternPair& pattern : kPatterns) {
        const tarnwick::CPatternEngine ours = CompileOurs(pattern);
        const std::regex regex(pattern.ecmascript);
        CheckAgreement("std::regex", CountOurs(ours, names, kRegexNameCount),
                       CountStdRegex(regex, names, kRegexNameCount));
#ifdef TARNWICK_HAVE_RE2
        const RE2 re2(pattern.ecmascript, Re2Options());
        CheckAgreement("RE2", CountOurs(ours, names, names.size()),
                       CountRe2(re2, names, names.size()));
#endif
        std::fprintf(stderr, "%-32s %zu of %zu names match\n", pattern.ours,
                     CountOurs(ours, names, names.size()), names.size());
    }
}

void SetRates(benchmark::State& state, const NameSet& names, std::size_t count,
              std::size_t matches) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(names.offsets[count]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
    state.counters["matches"] = static_cast<double>(matches);
    state.SetLabel(kPatterns[state.range(0)].ours);
}

void BM_Tarnwick(benchmark::State& state) {
    const NameSet& names = Names();
    const tarnwick::CPatternEngine engine = CompileOurs(kPatterns[state.range(0)]);
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = CountOurs(engine, names, names.size());
        benchmark::DoNotOptimize(matches);
    }
    SetRates(state, names, names.size(), matches);
}

#ifdef TARNWICK_HAVE_RE2
void BM_RE2(benchmark::State& state) {
    const NameSet& names = Names();
    const RE2 regex(kPatterns[state.range(0)].ecmascript, Re2Options());
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = CountRe2(regex, names, names.size());
        benchmark::DoNotOptimize(matches);
    }
    SetRates(state, names, names.size(), matches);
}
#endif

void BM_StdRegex(benchmark::State& state) {
    const NameSet& names = Names();
    const std::regex regex(kPatterns[state.range(0)].ecmascript);
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = CountStdRegex(regex, names, kRegexNameCount);
        benchmark::DoNotOptimize(matches);
    }
    SetRates(state, names, kRegexNameCount, matches);
}

BENCHMARK(BM_Tarnwick)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#ifdef TARNWICK_HAVE_RE2
BENCHMARK(BM_RE2)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_StdRegex)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    VerifyAgreement();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
