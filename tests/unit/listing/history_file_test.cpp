// Trimming of the history files.
#include "listing/history_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

// History text of exactly `size` bytes made of lines of the given lengths (line feed
// included), repeated; the last line is cut to fit.
std::string HistoryText(size_t size, std::vector<size_t> lineLengths) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        const size_t length = lineLengths[i % lineLengths.size()];
        std::string line = "entry " + std::to_string(i) + " ";
        line.resize(length - 1, static_cast<char>('a' + i % 26));
        text += line + "\n";
    }
    text.resize(size);
    return text;
}

// The lines of `text` that begin within its last `keep` bytes, in order.
std::string WholeLinesOfLast(const std::string& text, size_t keep) {
    const size_t cut = text.size() - keep;
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (start >= cut) kept += text.substr(start, end - start);
        start = end;
    }
    return kept;
}

TEST(HistoryFileTest, FileAtThresholdIsLeftAlone) {
    ScratchDirectory scratch;
    const std::string text = HistoryText(10000, {37, 52, 11});
    WriteFile(scratch / "urlhis.txt", text);
    const HistoryTrimResult result = TrimHistoryFile(scratch.path() + "/", "urlhis.txt");
    EXPECT_EQ(result.status, HistoryTrimStatus::kLeftAlone);
    EXPECT_EQ(ReadFile(scratch / "urlhis.txt"), text);
}

TEST(HistoryFileTest, MissingFileIsLeftAlone) {
    ScratchDirectory scratch;
    EXPECT_EQ(TrimHistoryFile(scratch.path() + "/", "pathhis.txt").status,
              HistoryTrimStatus::kLeftAlone);
    EXPECT_FALSE(FileExists(scratch / "pathhis.txt"));
}

TEST(HistoryFileTest, LargerFileKeepsWholeLinesOfItsLast8000Bytes) {
    struct Case {
        size_t size;
        std::vector<size_t> lineLengths;
    };
    const Case cases[] = {
        {10001, {37, 52, 11}},
        {25000, {20}},         // the cut falls exactly on a line start: that line is kept
        {12345, {600, 700}},   // lines longer than 255 bytes stay whole
        {10001, {9000, 300}},  // one line covers the cut
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        const std::string text = HistoryText(c.size, c.lineLengths);
        WriteFile(scratch / "urlhis.txt", text);
        const HistoryTrimResult result = TrimHistoryFile(scratch.path() + "/", "urlhis.txt");
        EXPECT_EQ(result.status, HistoryTrimStatus::kTrimmed) << c.size;
        const std::string trimmed = ReadFile(scratch / "urlhis.txt");
        EXPECT_EQ(trimmed, WholeLinesOfLast(text, 8000)) << c.size;
        EXPECT_LE(trimmed.size(), 8000u);
        EXPECT_FALSE(FileExists(scratch / "~tmphis.txt"));
    }
}

TEST(HistoryFileTest, TemporaryFileThatCannotBeCreatedIsReported) {
    ScratchDirectory scratch;
    const std::string text = HistoryText(10001, {40});
    WriteFile(scratch / "pathhis.txt", text);
    ASSERT_TRUE(MakeDirectoryPath(scratch / "~tmphis.txt"));  // blocks the temporary file
    const std::string directory = scratch.path() + "/";
    const HistoryTrimResult result = TrimHistoryFile(directory, "pathhis.txt");
    EXPECT_EQ(result.status, HistoryTrimStatus::kFailed);
    EXPECT_EQ(result.message, "Can't create temporary file " + directory + "~tmphis.txt!");
    EXPECT_EQ(ReadFile(scratch / "pathhis.txt"), text);
}

TEST(HistoryFileTest, UnreadableFileIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files regardless of their mode";
    ScratchDirectory scratch;
    WriteFile(scratch / "urlhis.txt", HistoryText(10001, {40}));
    ASSERT_EQ(chmod((scratch / "urlhis.txt").c_str(), 0), 0);
    const HistoryTrimResult result = TrimHistoryFile(scratch.path() + "/", "urlhis.txt");
    EXPECT_EQ(result.status, HistoryTrimStatus::kFailed);
    EXPECT_EQ(result.message, "Can't open" + scratch.path() + "/urlhis.txt");
}

}  // namespace
}  // namespace tarnwick
