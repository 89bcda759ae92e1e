// Queue files: the exact lines written, round trips of the awkward items, and reading
// files that others (or damage) made.
#include "queue/queue_file.h"

#include <gtest/gtest.h>

#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

using Op = QueueOperation;

std::shared_ptr<QueueItem> Item(Op operation, std::string clientPath, std::string serverPath,
                                int64_t size, QueueItemKind kind = QueueItemKind::kFile) {
    return MakeQueueItem(operation, std::move(clientPath), std::move(serverPath), size, kind);
}

// "[host]" per section and "kind|serverPath|operation|clientPath|size" per item.
std::vector<std::string> Describe(const std::vector<QueueSection>& sections) {
    std::vector<std::string> lines;
    for (const auto& section : sections) {
        lines.push_back("[" + section.hostAddress + "]");
        for (const auto& item : section.items) {
            lines.push_back(std::to_string(static_cast<int>(item->kind)) + "|" + item->serverPath +
                            "|" + std::to_string(static_cast<int>(item->operation)) + "|" +
                            item->clientPath + "|" + std::to_string(item->Size()));
        }
    }
    return lines;
}

TEST(QueueFileTest, WritesNonEmptyQueuesAndReadsThemBack) {
    ScratchDirectory scratch;
    const std::vector<QueueSection> sections = {
        {"ftp.example.com",
         {Item(Op::kDownload, "/home/u/a.txt", "/pub/a.txt", 1234),
          Item(Op::kDelete, "", "/pub/old", kUnknownSize, QueueItemKind::kDirectory),
          Item(Op::kCacheDir, "", "/", 0, QueueItemKind::kDirectoryContents)}},
        {"idle.example.org", {}},
        {"10.0.0.7",
         {Item(Op::kUpload, "/home/u/big.iso", "/in/big.iso", (int64_t{5} << 32) + 7),
          Item(Op::kUpload, " /spaces ", "/pub/" + std::string(300, 'x'), (int64_t{2} << 32) - 1),
          Item(Op::kDownload, "/l", "/pub/2g", 0x80000000)}},
    };
    // A TAB or a line feed in a path (or a line feed in a host) would add fields or whole
    // items; such items are left out.
    std::vector<QueueSection> withBadItems = sections;
    withBadItems[0].items.push_back(Item(Op::kDownload, "/l", "/evil\n0\t/etc\t1\t/x\t0\t1", 1));
    withBadItems.push_back({"only-bad", {Item(Op::kUpload, "/l\tx", "/r", 1)}});
    withBadItems.push_back({"bad\nhost", {Item(Op::kUpload, "/l", "/r", 1)}});
    const QueueSaveResult result = SaveQueues(scratch / "all.que", withBadItems);
    EXPECT_EQ(result.write, AtomicWriteResult::kWritten);
    EXPECT_EQ(result.skippedItems, 3u);
    EXPECT_EQ(ReadFile(scratch / "all.que"),
              "[ftp.example.com]\n"
              "0\t/pub/a.txt\t0\t/home/u/a.txt\t0\t1234\n"
              "1\t/pub/old\t2\t\t0\t-1\n"
              "2\t/\t3\t\t0\t0\n"
              "\n"
              "[10.0.0.7]\n"
              "0\t/in/big.iso\t1\t/home/u/big.iso\t5\t7\n"
              "0\t/pub/" +
                  std::string(300, 'x') +
                  "\t1\t /spaces \t1\t-1\n"
                  "0\t/pub/2g\t0\t/l\t0\t-2147483648\n"
                  "\n");

    const QueueFileContents read = ReadQueueFile(scratch / "all.que");
    EXPECT_TRUE(read.opened);
    EXPECT_TRUE(read.warnings.empty());
    std::vector<QueueSection> stored = sections;
    stored.erase(stored.begin() + 1);
    EXPECT_EQ(Describe(read.sections), Describe(stored));
}

TEST(QueueFileTest, ReadsFilesMadeElsewhere) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"CR LF, blanks at the ends only",
         "[h.example]\r\n"
         "  0\t/a\t2\t\t0\t5 \r\n"
         "1\t/b \t0\t /l\t1\t0\r\n"
         " \r\n"
         "0\t/after\t0\t/l\t0\t1\r\n",
         {"[h.example]", "0|/a|2||5", "1|/b |0| /l|4294967296"}},
        {"damaged lines keep what can be read",
         "[h]\n"
         "1\t/server/only\n"
         "x\t/a\tz\t/b\t1\t2\n"
         "0\t/no/low\t1\t/l\t7\n"
         "0\t/u\t0\t/l\t1\t4294967294\n"
         "0\t/huge\t0\t/l\t0\t99999999999\n"
         "0\t/neg\t0\t/l\t-5\t3\n"
         "2\t/extra\t3\t/l\t0\t9\tmore\n"
         "\t\t\t\t\t\n",
         {"[h]", "1|/server/only|0||-1", "0|/a|0|/b|4294967298", "0|/no/low|1|/l|-1",
          "0|/u|0|/l|8589934590", "0|/huge|0|/l|-1", "0|/neg|0|/l|-1", "2|/extra|3|/l|9",
          "0||0||-1"}},
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        WriteFile(scratch / "in.que", c.text);
        EXPECT_EQ(Describe(ReadQueueFile(scratch / "in.que").sections), c.expected) << c.name;
    }
}

TEST(QueueFileTest, OverlongLinesAreSkippedWithAWarning) {
    ScratchDirectory scratch;
    const std::string atLimit(kMaxQueueLineLength - 11, 'q');  // makes a line of the limit
    const std::string overlong = "0\t/" + std::string(kMaxQueueLineLength, 'o') + "\t0\t/l\t0\t1";
    WriteFile(scratch / "in.que", "[h]\n" + overlong + "\n0\t/next\t0\t/l\t0\t2\n0\t" + atLimit +
                                      "\t0\t/l\t0\t3\n" + overlong);
    const QueueFileContents read = ReadQueueFile(scratch / "in.que");
    EXPECT_EQ(Describe(read.sections),
              (std::vector<std::string>{"[h]", "0|/next|0|/l|2", "0|" + atLimit + "|0|/l|3"}));
    EXPECT_EQ(read.warnings.size(), 2u);
}

TEST(QueueFileTest, FilesThatCannotBeUsed) {
    ScratchDirectory scratch;
    for (const std::string& path : {scratch / "missing.que", scratch.path()}) {
        const QueueFileContents read = ReadQueueFile(path);
        EXPECT_FALSE(read.opened) << path;
        EXPECT_EQ(read.error, "Can't open" + path);
    }
    EXPECT_NE(
        SaveQueues(scratch / "no/dir/q.que", {{"h", {Item(Op::kUpload, "/l", "/r", 1)}}}).write,
        AtomicWriteResult::kWritten);
}

}  // namespace
}  // namespace tarnwick
