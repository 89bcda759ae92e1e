// Machine listings: fact lines read through the listing parser (told from LIST listings by
// their first line, put in name order), and the UTC time stamps of MDTM/MFMT.
#include <gtest/gtest.h>

#include "listing/fact_listing.h"
#include "listing/listing_parser.h"

namespace tarnwick {
namespace {

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
    struct Expected {
        const char* name;
        uint64_t size;
        int64_t modified;
        bool isDirectory;
        const char* attributes;
    };
    const Expected expected[] = {
        {"a file; with ;", 1234, 1709251199, false, "-rw-r-----"},
        {"bad month", 7, -1, false, "r"},
        {"big.iso", 5368709123ULL, 2177409600, false, ""},
        {"docs", 0, 1, true, "flcdmpe"},
        {"latest", 9, 1704067200, true, ""},
    };
    FileEntryList entries;
    ParseListingText(entries, listing);
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(entries[i].name, expected[i].name);
        EXPECT_EQ(entries[i].Size(), expected[i].size);
        EXPECT_EQ(entries[i].modified, expected[i].modified);
        EXPECT_EQ(entries[i].isDirectory, expected[i].isDirectory);
        EXPECT_EQ(entries[i].attributes, expected[i].attributes);
    }
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

}  // namespace
}  // namespace tarnwick
