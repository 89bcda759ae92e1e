// The listing parser: line styles, listing rules in memory and in files, sizes, times.
#include "listing/listing_parser.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "listing_test_util.h"

namespace tarnwick {
namespace {

using test::FixedNow;
using test::LocalInstant;
using test::LocalText;
using test::ScopedTimeZone;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// A fresh directory below the test scratch area, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TARNWICK_TEST_TMP");
        std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
        std::filesystem::create_directories(root);
        std::string pattern = (root / "listing-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path Write(const std::string& name, const std::string& content) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// One expected entry, in the form of the .expected files.
struct Expected {
    std::string name;
    std::string attributes;
    bool isDirectory;
    uint64_t size;
    std::string modified;  // local "YYYY-MM-DD HH:MM"
};

std::vector<Expected> ReadExpected(const std::filesystem::path& path) {
    std::vector<Expected> entries;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::istringstream fields(line);
        for (std::string column; std::getline(fields, column, '\t');) columns.push_back(column);
        EXPECT_EQ(columns.size(), 5u) << line;
        if (columns.size() != 5) continue;
        entries.push_back(
            {columns[0], columns[1], columns[2] == "d", std::stoull(columns[3]), columns[4]});
    }
    return entries;
}

void ExpectEntries(const FileEntryList& actual, const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].attributes, expected[i].attributes);
        EXPECT_EQ(actual[i].isDirectory, expected[i].isDirectory);
        EXPECT_EQ(actual[i].Size(), expected[i].size);
        EXPECT_EQ(LocalText(actual[i].modified), expected[i].modified);
        EXPECT_EQ(actual[i].description, "");
    }
}

std::vector<Expected> WithoutDots(std::vector<Expected> entries) {
    std::erase_if(entries, [](const Expected& e) { return e.name == "." || e.name == ".."; });
    return entries;
}

class ListingParserTest : public ::testing::Test {
protected:
    void SetUp() override { test::g_fixedNow = LocalInstant(2024, 6, 15, 12, 0); }

    FileEntry Parse(std::string_view line) {
        FileEntry entry;
        ParseListingLine(entry, line, FixedNow);
        return entry;
    }

    ScopedTimeZone zone_{"Europe/Berlin"};
    ScratchDir scratch_;
};

const std::filesystem::path kSample = std::filesystem::path(TARNWICK_TEST_DATA) / "listings";

TEST_F(ListingParserTest, SampleListingFromFileKeepsDotEntries) {
    FileEntryList list;
    ASSERT_EQ(LoadListingFile((kSample / "mixed.lis").string(), list, FixedNow), 0);
    ExpectEntries(list, ReadExpected(kSample / "mixed.expected"));
}

TEST_F(ListingParserTest, SampleListingInMemoryDropsDotEntries) {
    FileEntryList list;
    ParseListingText(list, ReadFile(kSample / "mixed.lis"), FixedNow);
    ExpectEntries(list, WithoutDots(ReadExpected(kSample / "mixed.expected")));
}

TEST_F(ListingParserTest, CrLfLineEndsGiveTheSameEntries) {
    const std::string crlf = ReplaceAll(ReadFile(kSample / "mixed.lis"), "\n", "\r\n");
    const auto expected = ReadExpected(kSample / "mixed.expected");

    FileEntryList fromFile;
    ASSERT_EQ(LoadListingFile(scratch_.Write("crlf.lis", crlf).string(), fromFile, FixedNow), 0);
    ExpectEntries(fromFile, expected);

    FileEntryList inMemory;
    ParseListingText(inMemory, crlf, FixedNow);
    ExpectEntries(inMemory, WithoutDots(expected));
}

TEST_F(ListingParserTest, YearIsInferredAroundNewYear) {
    const char* lastMinute = "-rw-r--r-- 1 u g 1 Dec 31 23:59 late";
    const char* firstMinute = "-rw-r--r-- 1 u g 1 Jan 01 00:00 early";

    test::g_fixedNow = LocalInstant(2024, 1, 1, 0, 0);
    EXPECT_EQ(LocalText(Parse(lastMinute).modified), "2023-12-31 23:59");
    EXPECT_EQ(LocalText(Parse(firstMinute).modified), "2024-01-01 00:00");  // equal to now

    test::g_fixedNow = LocalInstant(2023, 12, 31, 23, 58);
    EXPECT_EQ(LocalText(Parse(lastMinute).modified), "2022-12-31 23:59");
    EXPECT_EQ(LocalText(Parse(firstMinute).modified), "2023-01-01 00:00");

    // An explicit year in the future is taken back one year too.
    EXPECT_EQ(LocalText(Parse("-rw-r--r-- 1 u g 1 Jan 05 2030 x").modified), "2029-01-05 00:00");
}

TEST_F(ListingParserTest, YearInferenceInZoneWithoutDaylightSaving) {
    ScopedTimeZone tokyo("Asia/Tokyo");
    // 1 January 00:30 in Tokyo is still 31 December in UTC: the local year counts.
    test::g_fixedNow = LocalInstant(2024, 1, 1, 0, 30);
    EXPECT_EQ(LocalText(Parse("-rw-r--r-- 1 u g 1 Jan 01 00:10 a").modified), "2024-01-01 00:10");
    EXPECT_EQ(LocalText(Parse("-rw-r--r-- 1 u g 1 Jan 01 00:40 b").modified), "2023-01-01 00:40");
}

TEST_F(ListingParserTest, UnixLinesWithMissingOrOddFields) {
    struct Case {
        const char* line;
        const char* name;
        uint64_t size;
        const char* modified;
    };
    const Case cases[] = {
        // No field 8: the name is the whole line; month 0 and day 0 normalise like mktime.
        {"drwxr-xr-x 2 owner", "drwxr-xr-x 2 owner", 0, "1969-11-30 00:00"},
        {"-rw-r--r-- 1 u g 5 Foo 10 2005 bad month", "bad month", 5, "2004-12-10 00:00"},
        {"-rw-r--r-- 1 u g 5 Jan 10 1960 old", "old", 5, "1970-01-10 00:00"},
        {"  -rw-r--r-- 1 u g 5 Jan 10 2005 padded  \r", "padded", 5, "2005-01-10 00:00"},
        {"-rw-r--r-- 1 u g 5 Jan 10 2005 a -> b -> c", "a", 5, "2005-01-10 00:00"},
        {"-rw-r--r-- 1 u g 5 Jan 10 2005 a->b", "a->b", 5, "2005-01-10 00:00"},
        {"-rw-r--r-- 1 u g 5 Jan 10 7:5 short time", "short time", 5, "2024-01-10 07:05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const FileEntry entry = Parse(c.line);
        EXPECT_EQ(entry.name, c.name);
        EXPECT_EQ(entry.Size(), c.size);
        EXPECT_EQ(LocalText(entry.modified), c.modified);
    }
}

TEST_F(ListingParserTest, SizesAreUnsigned64BitAndOverflowIsRefused) {
    struct Case {
        const char* size;
        uint64_t expected;
    };
    const Case cases[] = {
        {"4294967295", 4294967295u},
        {"4294967296", 4294967296u},
        {"5368709120", 5368709120u},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", 0},  // one past 64 bits
        {"99999999999999999999", 0},  // would wrap to a plausible size
        {"12abc", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string size = c.size;
        EXPECT_EQ(Parse("-rw-r--r-- 1 u g " + size + " Jan 10 2005 f").Size(), c.expected);
        EXPECT_EQ(Parse("01-31-02 09:05PM " + size + " f").Size(), c.expected);
    }
    // A signed size field is only possible in DOS lines (UNIX lines look for a digit).
    EXPECT_EQ(Parse("01-31-02 09:05PM -1 f").Size(), 0u);  // not 0xFFFFFFFF, "unknown size"
    EXPECT_EQ(Parse("01-31-02 09:05PM +17 f").Size(), 17u);
    const FileEntry big = Parse("-rw-r--r-- 1 u g 5368709120 Jan 10 2005 f");
    EXPECT_EQ(big.sizeHigh, 1u);
    EXPECT_EQ(big.sizeLow, 1u << 30);
    EXPECT_EQ(FormatFileSize(big.sizeHigh, big.sizeLow), ">4GB");
}

TEST_F(ListingParserTest, DosLines) {
    struct Case {
        const char* line;
        const char* name;
        bool isDirectory;
        uint64_t size;
        const char* modified;
    };
    const Case cases[] = {
        {"01-31-02 09:05PM 1234 a", "a", false, 1234, "2002-01-31 21:05"},
        {"12-31-99 12:30PM <DIR> b", "b", true, 0, "1999-12-31 12:30"},
        {"01-31-70 12:15AM 1 c", "c", false, 1, "1970-01-31 00:15"},
        {"06-15-24 01:00PM 1 d", "d", false, 1, "2024-06-15 13:00"},
        {"06-15-24 12:00AM 1 e", "e", false, 1, "2024-06-15 00:00"},
        {"06-15-24 11:59AM 1 f", "f", false, 1, "2024-06-15 11:59"},
        {"06-15-24 21:35 1 g", "g", false, 1, "2024-06-15 21:35"},
        {"06-15-69 21:35 1 h", "h", false, 1, "2069-06-15 21:35"},
        // Not in the two-digit format: a one-digit hour is read around the colon, and a
        // four-digit year is taken as written.
        {"06-15-24 9:35PM 1 i", "i", false, 1, "2024-06-15 21:35"},
        {"01-31-2002 09:05PM 1 j", "j", false, 1, "2002-01-31 21:05"},
        {"01-31-1960 09:05PM 1 k", "k", false, 1, "1970-01-31 21:05"},
        // No future-date correction for DOS lines.
        {"12-31-24 11:00PM 1 l", "l", false, 1, "2024-12-31 23:00"},
        {"06-15-24  09:05AM   <DIR>   with  inner spaces ", "with  inner spaces", true, 0,
         "2024-06-15 09:05"},
        {"06-15-24 09:05AM", "06-15-24 09:05AM", false, 0, "2024-06-15 09:05"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const FileEntry entry = Parse(c.line);
        EXPECT_EQ(entry.name, c.name);
        EXPECT_EQ(entry.isDirectory, c.isDirectory);
        EXPECT_EQ(entry.Size(), c.size);
        EXPECT_EQ(LocalText(entry.modified), c.modified);
        EXPECT_EQ(entry.attributes, "");
    }
}

TEST_F(ListingParserTest, UnrepresentableTimeGivesMinusOne) {
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 1 Jan 10 99999999999999 f").modified, -1);
    EXPECT_EQ(Parse("01-31-02 99999999999999:05PM 1 f").modified, -1);
    // Beyond 2038 is fine.
    EXPECT_EQ(LocalText(Parse("03-01-2100 12:00AM 1 f").modified), "2100-03-01 00:00");
}

TEST_F(ListingParserTest, ListingRulesInMemory) {
    const std::string text =
        "total 3\n"
        "drwxr-xr-x 2 u g 1 Jan 10 2005 .\n"
        "drwxr-xr-x 2 u g 1 Jan 10 2005 ..\n"
        "\n\n"  // empty lines between line feeds vanish
        "-rw-r--r-- 1 u g 1 Jan 10 2005 first\n"
        "-rw-r--r-- 1 u g 1 Jan 10 2005 " +
        std::string(kMaxListingLineLength, 'x') +
        "\n"
        "-rw-r--r-- 1 u g 2 Jan 10 2005 second\n"
        " \t \r\n"  // a white-space line ends the parse
        "-rw-r--r-- 1 u g 3 Jan 10 2005 never\n";
    FileEntryList list(1);  // entries are appended after what is there
    ParseListingText(list, text, FixedNow);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].name, "first");
    EXPECT_EQ(list[2].name, "second");

    FileEntryList empty;
    ParseListingText(empty, "", FixedNow);
    ParseListingText(empty, "\n\n\n", FixedNow);
    EXPECT_TRUE(empty.empty());
}

TEST_F(ListingParserTest, ListingFileRules) {
    FileEntryList list;
    EXPECT_EQ(LoadListingFile("", list, FixedNow), -1);
    EXPECT_EQ(LoadListingFile((scratch_.path() / "missing").string(), list, FixedNow), -1);
    EXPECT_EQ(LoadListingFile(scratch_.path().string(), list, FixedNow), -1);  // a directory
    EXPECT_TRUE(list.empty());

    const std::string longName(300, 'n');  // once split into 256-byte pieces
    const std::string text = "total 1\n.\n-rw-r--r-- 1 u g 1 Jan 10 2005 " + longName +
                             "\n-rw-r--r-- 1 u g 1 Jan 10 2005 " +
                             std::string(kMaxListingLineLength + 1, 'x') +
                             "\n-rw-r--r-- 1 u g 2 Jan 10 2005 last\n\n"
                             "-rw-r--r-- 1 u g 3 Jan 10 2005 after the empty line\n";
    ASSERT_EQ(LoadListingFile(scratch_.Write("rules.lis", text).string(), list, FixedNow), 0);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, ".");  // kept in files
    EXPECT_EQ(list[1].name, longName);
    EXPECT_EQ(list[2].name, "last");

    FileEntryList noFinalFeed;
    const auto path = scratch_.Write("nofeed.lis", "-rw-r--r-- 1 u g 1 Jan 10 2005 end");
    ASSERT_EQ(LoadListingFile(path.string(), noFinalFeed, FixedNow), 0);
    ASSERT_EQ(noFinalFeed.size(), 1u);
    EXPECT_EQ(noFinalFeed[0].name, "end");
}

// A big file is read in chunks: lines that straddle chunk borders, and overlong lines that
// span several chunks, must come out as they do from the same text in memory.
TEST_F(ListingParserTest, LargeFileMatchesTheSameTextInMemory) {
    std::string text;
    for (int i = 0; i < 6000; ++i) {
        text += "-rw-r--r-- 1 user group " + std::to_string(i * 7919) + " Feb " +
                std::to_string(1 + i % 28) + " 0" + std::to_string(i % 10) + ":3" +
                std::to_string(i % 6) + " file " + std::string(i % 97, 'a' + i % 26) + "\n";
        if (i % 1000 == 999) text += std::string(3 * kMaxListingLineLength + i, 'z') + "\n";
    }
    FileEntryList fromFile;
    ASSERT_EQ(LoadListingFile(scratch_.Write("big.lis", text).string(), fromFile, FixedNow), 0);
    FileEntryList inMemory;
    ParseListingText(inMemory, text, FixedNow);
    ASSERT_EQ(fromFile.size(), 6000u);
    ASSERT_EQ(inMemory.size(), 6000u);
    for (size_t i = 0; i < fromFile.size(); ++i) {
        ASSERT_EQ(fromFile[i].name, inMemory[i].name) << i;
        ASSERT_EQ(fromFile[i].Size(), uint64_t{i} * 7919) << i;
        ASSERT_EQ(fromFile[i].modified, inMemory[i].modified) << i;
    }
}

TEST_F(ListingParserTest, ThreadsParseIndependently) {
    const std::string text = ReadFile(kSample / "mixed.lis");
    FileEntryList reference;
    ParseListingText(reference, text, FixedNow);
    auto work = [&](FileEntryList* out) {
        for (int round = 0; round < 50; ++round) {
            out->clear();
            ParseListingText(*out, text, FixedNow);
        }
    };
    FileEntryList a;
    FileEntryList b;
    std::thread first(work, &a);
    std::thread second(work, &b);
    first.join();
    second.join();
    ASSERT_EQ(a.size(), reference.size());
    ASSERT_EQ(b.size(), reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(a[i].modified, reference[i].modified);
        EXPECT_EQ(b[i].modified, reference[i].modified);
    }
}

TEST(FormatFileSizeTest, GroupsThousandsAndMarksLargeSizes) {
    EXPECT_EQ(FormatFileSize(0, 0), "0");
    EXPECT_EQ(FormatFileSize(0, 999), "999");
    EXPECT_EQ(FormatFileSize(0, 1000), "1,000");
    EXPECT_EQ(FormatFileSize(0, 100000), "100,000");
    EXPECT_EQ(FormatFileSize(0, 1234567), "1,234,567");
    EXPECT_EQ(FormatFileSize(0, 4294967295u), "4,294,967,295");
    EXPECT_EQ(FormatFileSize(1, 0), ">4GB");
}

}  // namespace
}  // namespace tarnwick
