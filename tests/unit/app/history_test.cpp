// The history files of the address boxes.
#include "app/history.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "listing/line_reader.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;
using Entries = std::vector<std::string>;

TEST(HistoryTest, LoadTrimsSkipsEmptyLinesAndRepeatsAndKeepsLongLinesWhole) {
    ScratchDirectory scratch;
    const std::string long300(300, 'u');
    const std::string overlong(kMaxTextFileLine + 100, 'x');
    WriteFile(scratch / "urlhis.txt", "  ftp.a.org \n\n\t\nftp.b.org\r\nftp.a.org\nFTP.A.ORG\n" +
                                          long300 + "\n" + overlong + "\nlast");
    EXPECT_EQ(LoadHistory(scratch / "urlhis.txt"),
              (Entries{"ftp.a.org", "ftp.b.org", "FTP.A.ORG", long300, "last"}));
    EXPECT_EQ(LoadHistory(scratch / "missing.txt"), Entries{});
}

TEST(HistoryTest, AddAppendsNewEntriesOnly) {
    ScratchDirectory scratch;
    const std::string path = scratch / "pathhis.txt";
    WriteFile(path, "/pub");  // written by hand: no line feed at the end
    Entries entries = LoadHistory(path);
    using enum HistoryAddResult;
    const std::pair<std::string, HistoryAddResult> steps[] = {
        {"  /incoming  ", kAdded}, {"/incoming", kNotAdded}, {"/pub", kNotAdded},
        {" \t ", kNotAdded},       {"/a\n/b", kNotAdded},    {"/Pub", kAdded},
    };
    for (const auto& [typed, result] : steps) {
        EXPECT_EQ(AddHistoryEntry(path, entries, typed), result) << typed;
    }
    EXPECT_EQ(entries, (Entries{"/pub", "/incoming", "/Pub"}));
    EXPECT_EQ(ReadFile(path), "/pub\n/incoming\n/Pub\n");

    EXPECT_EQ(AddHistoryEntry(scratch / "no such dir/urlhis.txt", entries, "host"), kAddedNotSaved);
    EXPECT_EQ(entries.back(), "host");
}

// Trimming itself is the history file's; here the message for each file that fails.
TEST(HistoryTest, TrimReportsEachFailure) {
    ScratchDirectory scratch;
    const std::string home = scratch.path() + "/";
    std::string big;
    while (big.size() <= 10000) big += "ftp://host.example.org/some/long/path\n";
    WriteFile(home + "urlhis.txt", big);
    WriteFile(home + "pathhis.txt", big);
    std::filesystem::create_directory(home + "~tmphis.txt");  // the temporary file's name taken
    const std::string message = "Can't create temporary file " + home + "~tmphis.txt!";
    EXPECT_EQ(TrimHistoryFiles(home), (Entries{message, message}));
}

}  // namespace
}  // namespace tarnwick
