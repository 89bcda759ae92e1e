// The listing parser: line styles, listing rules in memory and in files, machine listings and
// their time stamps, sizes, and the memoised local-time conversion.
#include "listing/listing_parser.h"

#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <random>
#include <sstream>

#include "listing/fact_listing.h"
#include "listing/local_time.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

// Sets the time zone until the end of the scope (an unset TZ comes back unset).
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = getenv("TZ")) old_ = old;
        Set(zone);
    }
    ~ScopedZone() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedZone(const ScopedZone&) = delete;

private:
    static void Set(const char* zone) {
        zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> old_;
};

const fs::path kSamples = fs::path(TARNWICK_TEST_DATA) / "listings";

std::string LocalText(int64_t t) {  // localtime: the inverse of what the parser computes
    const time_t instant = static_cast<time_t>(t);
    tm local{};
    char text[64] = "invalid";
    if (localtime_r(&instant, &local)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// name|attributes|d or -|size|local time, the form of the .expected files.
std::string Summary(const FileEntry& e) {
    return e.name + "|" + e.attributes + "|" + (e.isDirectory ? "d" : "-") + "|" +
           std::to_string(e.Size()) + "|" + LocalText(e.modified) + e.description;
}

std::vector<std::string> Summaries(const FileEntryList& list) {
    std::vector<std::string> lines;
    for (const FileEntry& e : list) lines.push_back(Summary(e));
    return lines;
}

int64_t g_now = 0;
int64_t FixedNow() {
    return g_now;
}

class ListingParserTest : public ::testing::Test {
protected:
    void SetUp() override { g_now = PlainLocalTime({2024, 6, 15, 12, 0}); }

    std::string Write(const std::string& name, const std::string& content) {
        testing::WriteFile(scratch_ / name, content);
        return scratch_ / name;
    }
    std::string Parse(std::string_view line) {
        FileEntry entry;
        ParseListingLine(entry, line, FixedNow);
        return Summary(entry);
    }

    ScopedZone zone_{"Europe/Berlin"};
    testing::ScratchDirectory scratch_;
};

// mixed: a listing as servers send it; lines: one line for each rule of the line parser.
// (Text in memory goes through the same line parser: see the rules and the large file below.)
TEST_F(ListingParserTest, SampleListingsWithLfAndCrLf) {
    for (const std::string sample : {"mixed", "lines"}) {
        std::vector<std::string> expected;
        std::istringstream lines(ReadFile(kSamples / (sample + ".expected")));
        for (std::string line; std::getline(lines, line);) expected.push_back(line);
        const std::string lf = ReadFile(kSamples / (sample + ".lis"));
        std::string crlf;
        for (char c : lf) c == '\n' ? crlf += "\r\n" : crlf += c;
        for (const std::string& text : {lf, crlf}) {
            FileEntryList fromFile;
            ASSERT_EQ(LoadListingFile(Write("sample.lis", text), fromFile, FixedNow), 0);
            EXPECT_EQ(Summaries(fromFile), expected);
        }
    }
}

TEST_F(ListingParserTest, YearIsInferredAroundNewYear) {
    g_now = PlainLocalTime({2024, 1, 1, 0, 0});
    EXPECT_EQ(Parse("- 1 u g 1 Dec 31 23:59 x"), "x|-|-|1|2023-12-31 23:59");
    EXPECT_EQ(Parse("- 1 u g 1 Jan 01 00:00 x"), "x|-|-|1|2024-01-01 00:00");  // equal to now
    g_now = PlainLocalTime({2023, 12, 31, 23, 58});
    EXPECT_EQ(Parse("- 1 u g 1 Dec 31 23:59 x"), "x|-|-|1|2022-12-31 23:59");
    EXPECT_EQ(Parse("- 1 u g 1 Jan 01 00:00 x"), "x|-|-|1|2023-01-01 00:00");
    // The local year counts: 1 January 00:30 in Tokyo is still 2023 in UTC.
    ScopedZone tokyo("JST-9");
    g_now = PlainLocalTime({2024, 1, 1, 0, 30});
    EXPECT_EQ(Parse("- 1 u g 1 Jan 01 00:10 x"), "x|-|-|1|2024-01-01 00:10");
}

// The same text in memory and in a file: both skip "total" and overlong lines; memory drops
// "." and ".." and empty lines, a file keeps the dots and ends at an empty line; both end at
// a line of white space.
TEST_F(ListingParserTest, ListingRulesInMemoryAndInFiles) {
    const std::string file = "-rw-r--r-- 1 u g 1 Jan 10 2005 ";
    const std::string longName(300, 'n');  // more than the 255 bytes a line once could hold
    const std::string text = "total 3\ntotally.txt\n" + file + ".\n" + file + "..\n" + file +
                             longName + "\n" + file + std::string(kMaxListingLineLength, 'x') +
                             "\n" + file + "first\n\n" + file + "second\n \t \r\n" + file +
                             "after\n";
    const auto names = [](const FileEntryList& list) {
        std::vector<std::string> names;
        for (const FileEntry& e : list) names.push_back(e.name);
        return names;
    };
    FileEntryList list(1);  // entries are appended after what is there
    ParseListingText(list, text, FixedNow);
    EXPECT_EQ(names(list), (std::vector<std::string>{"", longName, "first", "second"}));
    list.clear();
    ASSERT_EQ(LoadListingFile(Write("rules.lis", text), list, FixedNow), 0);
    EXPECT_EQ(names(list), (std::vector<std::string>{".", "..", longName, "first"}));
    ASSERT_EQ(LoadListingFile(Write("nofeed.lis", file + "end"), list, FixedNow), 0);
    EXPECT_EQ(list.back().name, "end");

    list.clear();
    // A directory gives a read error.
    for (const std::string& path : {std::string(), scratch_ / "missing", scratch_.path()})
        EXPECT_EQ(LoadListingFile(path, list, FixedNow), -1) << path;
    EXPECT_TRUE(list.empty());
}

// Machine listings (MLSD): told from LIST listings by their first line, put in name order;
// and the UTC time stamps of MDTM/MFMT.
TEST(FactListingTest, ReadsEntriesInNameOrderWhateverTheFactsOrderOrCase) {
    const char* listing =
        "type=cdir;modify=20240101000000; /pub\r\n"
        "type=pdir;modify=20240101000000; /\r\n"
        "modify=20240229235959.123;size=1234;type=file;UNIX.mode=0640; a file; with ;\r\n"
        "Type=Dir;Modify=19700101000001;Perm=flcdmpe; docs\r\n"
        "SIZE=5368709123;TYPE=file;MODIFY=20381231120000; big.iso\r\n"
        "type=OS.unix=symlink;size=9;modify=20240101000000; latest\r\n"
        "type=file;size=5;modify=20240101000000 no-fact-space\r\n"
        "type=file;size=7;modify=20241301000000;perm=r; bad month\r\n";
    FileEntryList entries;
    ParseListingText(entries, listing);
    std::vector<std::string> got;  // name|attributes|d or -|size|UTC seconds
    for (const FileEntry& e : entries) {
        got.push_back(e.name + "|" + e.attributes + (e.isDirectory ? "|d|" : "|-|") +
                      std::to_string(e.Size()) + "|" + std::to_string(e.modified));
    }
    EXPECT_EQ(got,
              (std::vector<std::string>{"a file; with ;|-rw-r-----|-|1234|1709251199",
                                        "bad month|r|-|7|-1", "big.iso||-|5368709123|2177409600",
                                        "docs|flcdmpe|d|0|1", "latest||d|9|1704067200"}));
}

TEST(FactTimeTest, ConvertsBothWaysInUtc) {
    for (const auto& [text, seconds] :
         std::initializer_list<std::pair<const char*, int64_t>>{{"19700101000000", 0},
                                                                {"20000229120000", 951825600},
                                                                {"21060207062816", 4294967296},
                                                                {"99991231235959", 253402300799}}) {
        EXPECT_EQ(ParseFactTime(text), seconds) << text;
        EXPECT_EQ(FormatFactTime(seconds), text);
    }
    for (const char* bad : {"2024010100000", "20230229000000", "2024010100000x", "20240101000000.",
                            "19691231235959", "20240101246000"}) {
        EXPECT_EQ(ParseFactTime(bad), -1) << bad;
    }
}

// Files are read in chunks: lines across chunk borders and overlong lines spanning several
// chunks must come out as from the same text in memory, and so must a line of the longest
// length that ends in CR LF.
TEST_F(ListingParserTest, LargeFileMatchesTheSameTextInMemory) {
    std::string text;
    for (int i = 0; i < 6000; ++i) {
        text += "-rw-r--r-- 1 u g " + std::to_string(i * 7919) + " Feb " +
                std::to_string(1 + i % 28) + " 1" + std::to_string(i % 10) + ":3" +
                std::to_string(i % 6) + " f" + std::string(i % 97, char('a' + i % 26)) + "\n";
        if (i % 1000 == 999) text += std::string(3 * kMaxListingLineLength + i, 'z') + "\n";
    }
    const std::string longest = "- 1 u g 1 Jan 1 2005 ";
    text += longest + std::string(kMaxListingLineLength - longest.size(), 'n') + "\r\n";
    FileEntryList fromFile, inMemory;
    ASSERT_EQ(LoadListingFile(Write("big.lis", text), fromFile, FixedNow), 0);
    ParseListingText(inMemory, text, FixedNow);
    ASSERT_EQ(fromFile.size(), 6001u);
    EXPECT_EQ(Summaries(fromFile), Summaries(inMemory));
    EXPECT_EQ(fromFile[5999].Size(), 5999u * 7919);
}

// The memoised conversion must give what the unmemoised one gives, in every zone kind, for
// every day of six years at the hours where transitions happen and for random fields over
// two centuries, one in eight out of range.
class LocalTimeEquivalenceTest : public ::testing::TestWithParam<const char*> {};

// A named zone is skipped when tzdata is missing.
TEST_P(LocalTimeEquivalenceTest, MemoisedAgreesWithUnmemoised) {
    const std::string zoneName = GetParam();
    if (zoneName.find(',') == std::string::npos && !fs::exists("/usr/share/zoneinfo/" + zoneName))
        GTEST_SKIP() << "no tzdata for " << zoneName;
    ScopedZone zone(GetParam());
    LocalTimeCache& cache = LocalTimeCache::ForThisThread();
    cache.SyncWithTimeZone();
    auto expectSame = [&](const LocalFields& f) {
        ASSERT_EQ(cache.LocalTime(f), ResolveLocalTime(f))
            << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute;
    };
    std::mt19937 random(42);
    auto pick = [&](int64_t low, int64_t high) {
        return low + int64_t(random() % (high - low + 1));
    };
    const int64_t times[][2] = {{0, 0}, {0, 30}, {1, 59}, {2, 0}, {2, 30}, {3, 0}, {23, 59}};
    for (int64_t day = 0; day < 6 * 12 * 31; ++day) {
        const int64_t year = 2008 + day / 372 * 2, month = 1 + day / 31 % 12, mday = 1 + day % 31;
        for (const auto& [hour, minute] : times) expectSame({year, month, mday, hour, minute});
        expectSame({year, month, mday, pick(0, 23), pick(0, 59)});
    }
    for (int i = 0; i < 20000; ++i) {
        const bool odd = random() % 8 == 0;
        expectSame({odd ? pick(1800, 10100) : pick(1950, 2150), odd ? pick(-2, 14) : pick(1, 12),
                    odd ? pick(-1, 33) : pick(1, 31), odd ? pick(-2, 26) : pick(0, 23),
                    odd ? pick(-1, 61) : pick(0, 59)});
    }
}

// Sao Paulo switched at midnight, Lord Howe shifts by half an hour, Apia skipped 2011-12-30.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeEquivalenceTest,
    ::testing::Values("UTC", "Europe/Berlin", "America/New_York", "America/Sao_Paulo", "Australia/Lord_Howe",
                      "Pacific/Apia", "Asia/Kathmandu", "CET-1CEST,M3.5.0,M10.5.0/3", "<-03>3<-02>,M10.3.0/0,M2.3.0/0"));
// clang-format on

}  // namespace
}  // namespace tarnwick
