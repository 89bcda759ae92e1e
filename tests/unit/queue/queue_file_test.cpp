// Queue files: the exact lines written, round trips of the awkward items, and reading
// files that others (or damage) made.
#include "queue/queue_file.h"

#include <gtest/gtest.h>

#include "../listing/scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

std::shared_ptr<QueueItem> Item(QueueOperation operation, std::string clientPath,
                                std::string serverPath, int64_t size,
                                QueueItemKind kind = QueueItemKind::kFile) {
    return MakeQueueItem(operation, std::move(clientPath), std::move(serverPath), size, kind);
}

// The item's stored fields, one per line, for comparing items read back.
std::string Describe(const QueueItem& item) {
    return std::to_string(static_cast<int>(item.kind)) + "|" + item.serverPath + "|" +
           std::to_string(static_cast<int>(item.operation)) + "|" + item.clientPath + "|" +
           std::to_string(item.Size());
}

std::vector<std::string> Describe(const QueueSection& section) {
    std::vector<std::string> lines;
    for (const auto& item : section.items) lines.push_back(Describe(*item));
    return lines;
}

QueueFileContents ReadText(const ScratchDirectory& scratch, const std::string& text) {
    WriteFile(scratch / "in.que", text);
    return ReadQueueFile(scratch / "in.que");
}

TEST(QueueFileTest, WritesOneSectionPerNonEmptyQueue) {
    ScratchDirectory scratch;
    const std::vector<QueueSection> sections = {
        {"ftp.example.com",
         {Item(QueueOperation::kDownload, "/home/u/a.txt", "/pub/a.txt", 1234),
          Item(QueueOperation::kDelete, "", "/pub/old", kUnknownSize, QueueItemKind::kDirectory)}},
        {"idle.example.org", {}},
        {"10.0.0.7",
         {Item(QueueOperation::kUpload, "/home/u/big.iso", "/in/big.iso", (int64_t{5} << 32) + 7)}},
    };
    const QueueSaveResult result = SaveQueues(scratch / "all.que", sections);
    EXPECT_EQ(result.write, AtomicWriteResult::kWritten);
    EXPECT_EQ(result.skippedItems, 0u);
    EXPECT_EQ(ReadFile(scratch / "all.que"),
              "[ftp.example.com]\n"
              "0\t/pub/a.txt\t0\t/home/u/a.txt\t0\t1234\n"
              "1\t/pub/old\t2\t\t0\t-1\n"
              "\n"
              "[10.0.0.7]\n"
              "0\t/in/big.iso\t1\t/home/u/big.iso\t5\t7\n"
              "\n");
}

TEST(QueueFileTest, AwkwardItemsRoundTrip) {
    ScratchDirectory scratch;
    const std::string longPath = "/pub/" + std::string(300, 'x') + "/file";
    const std::vector<QueueSection> written = {
        {"one.example.com",
         {Item(QueueOperation::kDelete, "", "/pub/gone.txt", 17),
          Item(QueueOperation::kDownload, "/home/u", "/pub/unknown.bin", kUnknownSize),
          Item(QueueOperation::kDownload, "/home/u", "/pub/2g.bin", int64_t{0x80000000}),
          Item(QueueOperation::kUpload, "/home/u/8g", "/in/8g", (int64_t{2} << 32) - 1),
          Item(QueueOperation::kCacheDir, "", "/", 0, QueueItemKind::kDirectory),
          Item(QueueOperation::kUpload, "/home/u/dir", "/in", 0, QueueItemKind::kDirectoryContents),
          Item(QueueOperation::kDownload, "/home/u/ with spaces ", longPath, 1)}},
        {"two.example.com", {Item(QueueOperation::kDownload, "/l", "/r", 1)}},
    };
    ASSERT_EQ(SaveQueues(scratch / "q.que", written).write, AtomicWriteResult::kWritten);

    const QueueFileContents read = ReadQueueFile(scratch / "q.que");
    ASSERT_TRUE(read.opened);
    EXPECT_TRUE(read.warnings.empty());
    ASSERT_EQ(read.sections.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(read.sections[i].hostAddress, written[i].hostAddress);
        EXPECT_EQ(Describe(read.sections[i]), Describe(written[i]));
    }
    EXPECT_FALSE(read.sections[0].items[1]->SizeKnown());
}

TEST(QueueFileTest, ReadsCrLfLinesAndTrimsOnlyTheEnds) {
    ScratchDirectory scratch;
    const QueueFileContents read = ReadText(scratch,
                                            "[host.example]\r\n"
                                            "  0\t/pub/a\t2\t\t0\t5 \r\n"
                                            "1\t/pub/b \t0\t /home/u/b\t1\t0\r\n"
                                            " \r\n"
                                            "0\t/after/the/end\t0\t/x\t0\t1\r\n");
    ASSERT_EQ(read.sections.size(), 1u);
    EXPECT_EQ(read.sections[0].hostAddress, "host.example");
    EXPECT_EQ(Describe(read.sections[0]),
              (std::vector<std::string>{"0|/pub/a|2||5", "1|/pub/b |0| /home/u/b|4294967296"}));
}

TEST(QueueFileTest, SectionsFollowTheirHeaders) {
    ScratchDirectory scratch;
    const QueueFileContents read = ReadText(scratch,
                                            "written by hand\n"
                                            "0\t/not/in/a/section\t0\t/x\t0\t1\n"
                                            "[a.example]\n"
                                            "0\t/a1\t0\t/l\t0\t1\n"
                                            "[b.example]\n"  // no empty line before it
                                            "0\t/b1\t0\t/l\t0\t1\n"
                                            "\n"
                                            "[empty.example]\n"
                                            "\n"
                                            "[a.example]\n"
                                            "0\t/a2\t0\t/l\t0\t1");  // no final line feed
    std::vector<std::string> seen;
    for (const auto& section : read.sections) {
        seen.push_back(section.hostAddress + ":" + std::to_string(section.items.size()));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a.example:1", "b.example:1", "empty.example:0",
                                              "a.example:1"}));
    EXPECT_EQ(read.sections[3].items[0]->serverPath, "/a2");
}

TEST(QueueFileTest, DamagedItemLinesKeepWhatCanBeRead) {
    ScratchDirectory scratch;
    const QueueFileContents read = ReadText(scratch,
                                            "[h]\n"
                                            "1\t/only/server\n"
                                            "x\t/a\tz\t/b\t1\t2\n"
                                            "0\t/no/low/half\t1\t/l\t7\n"
                                            "0\t/unsigned\t0\t/l\t0\t4294967295\n"
                                            "0\t/unsigned/big\t0\t/l\t1\t4294967294\n"
                                            "0\t/huge\t0\t/l\t0\t99999999999\n"
                                            "2\t/extra\t3\t/l\t0\t9\tmore\n"
                                            "\t\t\t\t\t\n");
    ASSERT_EQ(read.sections.size(), 1u);
    EXPECT_EQ(Describe(read.sections[0]), (std::vector<std::string>{
                                              "1|/only/server|0||-1",
                                              "0|/a|0|/b|4294967298",
                                              "0|/no/low/half|1|/l|-1",
                                              "0|/unsigned|0|/l|-1",
                                              "0|/unsigned/big|0|/l|8589934590",
                                              "0|/huge|0|/l|-1",
                                              "2|/extra|3|/l|9",
                                              "0||0||-1",
                                          }));
}

TEST(QueueFileTest, LongLinesAreReadWholeAndOverlongOnesSkipped) {
    ScratchDirectory scratch;
    const std::string path255 = "/" + std::string(400, 'p');
    const std::string limitPath(kMaxQueueLineLength - 11, 'q');  // the line is exactly the limit
    const std::string overlong = "0\t/" + std::string(kMaxQueueLineLength, 'o') + "\t0\t/l\t0\t1";
    const QueueFileContents read =
        ReadText(scratch, "[h]\n0\t" + path255 + "\t0\t/l\t0\t1\n" + overlong +
                              "\n0\t/next\t0\t/l\t0\t2\n0\t" + limitPath + "\t0\t/l\t0\t3\n" +
                              overlong + "\n");
    ASSERT_EQ(read.sections.size(), 1u);
    const auto& items = read.sections[0].items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->serverPath, path255);
    EXPECT_EQ(items[1]->serverPath, "/next");
    EXPECT_EQ(items[2]->serverPath, limitPath);
    EXPECT_EQ(items[2]->Size(), 3);
    ASSERT_EQ(read.warnings.size(), 2u);
    EXPECT_EQ(read.warnings[0],
              "Skipped line 3 of " + (scratch / "in.que") + ": longer than 65536 bytes");
}

TEST(QueueFileTest, ItemsThatWouldBreakTheFormatAreLeftOut) {
    ScratchDirectory scratch;
    const std::vector<QueueSection> sections = {
        {"h",
         {Item(QueueOperation::kDownload, "/l", "/pub/evil\n0\t/etc\t1\t/x\t0\t1", 1),
          Item(QueueOperation::kDownload, "/l\tx", "/pub/tab", 1),
          Item(QueueOperation::kDownload, "/l", "/pub/fine", 1)}},
        {"only-bad", {Item(QueueOperation::kUpload, "/l\n", "/r", 1)}},
        {"bad\nhost", {Item(QueueOperation::kUpload, "/l", "/r", 1)}},
    };
    const QueueSaveResult result = SaveQueues(scratch / "q.que", sections);
    EXPECT_EQ(result.write, AtomicWriteResult::kWritten);
    EXPECT_EQ(result.skippedItems, 4u);
    EXPECT_EQ(ReadFile(scratch / "q.que"), "[h]\n0\t/pub/fine\t0\t/l\t0\t1\n\n");
}

TEST(QueueFileTest, FilesThatCannotBeUsed) {
    ScratchDirectory scratch;
    for (const std::string& path : {scratch / "missing.que", scratch.path()}) {
        const QueueFileContents read = ReadQueueFile(path);
        EXPECT_FALSE(read.opened) << path;
        EXPECT_EQ(read.error, "Can't open" + path);
        EXPECT_TRUE(read.sections.empty());
    }
    const std::vector<QueueSection> sections = {
        {"h", {Item(QueueOperation::kUpload, "/l", "/r", 1)}}};
    EXPECT_NE(SaveQueues(scratch / "no/such/dir/q.que", sections).write,
              AtomicWriteResult::kWritten);
}

}  // namespace
}  // namespace tarnwick
