// Trimming of the history files.
#include "listing/history_file.h"

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

using testing::ReadFile;
using testing::ScratchDirectory;
using testing::WriteFile;

// Exactly `size` bytes of numbered lines of the given lengths (line feed included), in turn.
std::string HistoryText(size_t size, std::vector<size_t> lengths) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) {
        std::string line = std::to_string(i) + " ";
        line.resize(lengths[i % lengths.size()] - 1, 'a');
        text += line + "\n";
    }
    return text.substr(0, size);
}

// The lines of `text` that begin within its last `keep` bytes.
std::string WholeLinesOfLast(const std::string& text, size_t keep) {
    std::string kept;
    for (size_t start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        if (start >= text.size() - keep) kept += text.substr(start, end - start);
    }
    return kept;
}

TEST(HistoryFileTest, TrimsOnlyPastTenThousandBytes) {
    struct Case {
        size_t size;
        std::vector<size_t> lengths;
        HistoryTrimStatus status;
    };
    const Case cases[] = {
        {10000, {37, 52, 11}, HistoryTrimStatus::kLeftAlone},
        {10001, {37, 52, 11}, HistoryTrimStatus::kTrimmed},
        {25000, {20}, HistoryTrimStatus::kTrimmed},        // the cut falls on a line start
        {12345, {600, 700}, HistoryTrimStatus::kTrimmed},  // lines over 255 bytes stay whole
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        const std::string text = HistoryText(c.size, c.lengths);
        WriteFile(scratch / "urlhis.txt", text);
        EXPECT_EQ(TrimHistoryFile(scratch.path() + "/", "urlhis.txt").status, c.status);
        const std::string expected =
            c.status == HistoryTrimStatus::kTrimmed ? WholeLinesOfLast(text, 8000) : text;
        EXPECT_EQ(ReadFile(scratch / "urlhis.txt"), expected) << c.size;
        EXPECT_FALSE(FileExists(scratch / "~tmphis.txt"));
    }
}

}  // namespace
}  // namespace tarnwick
