// Trimming of the history files.
#include "listing/history_file.h"

#include <gtest/gtest.h>

#include "listing/local_files.h"
#include "scratch_directory.h"

namespace tarnwick {
namespace {

// A history of `size` bytes in numbered lines of the given lengths, in turn; trimmed, it
// keeps the lines that begin within its last 8,000 bytes, each whole.
TEST(HistoryFileTest, TrimsOnlyPastTenThousandBytesToWholeLines) {
    struct Case {
        size_t size;
        std::vector<size_t> lengths;
    };
    // 10,000 bytes are left alone; at 25,000 the cut falls on a line start; lines over 255
    // bytes stay whole.
    for (const Case& c : {Case{10000, {37, 52, 11}}, Case{10001, {37, 52, 11}}, Case{25000, {20}},
                          Case{12345, {600, 700}}}) {
        std::string text, kept;
        for (size_t i = 0; text.size() < c.size; ++i) {
            std::string line = std::to_string(i) + " ";
            line.resize(c.lengths[i % c.lengths.size()] - 1, 'a');
            if (text.size() >= c.size - 8000) kept += line + "\n";
            text += line + "\n";
        }
        kept.resize(kept.size() - (text.size() - c.size));  // the last line is cut short
        text.resize(c.size);
        testing::ScratchDirectory scratch;
        testing::WriteFile(scratch / "urlhis.txt", text);
        const HistoryTrimStatus status = TrimHistoryFile(scratch.path() + "/", "urlhis.txt").status;
        EXPECT_EQ(status,
                  c.size > 10000 ? HistoryTrimStatus::kTrimmed : HistoryTrimStatus::kLeftAlone);
        EXPECT_EQ(testing::ReadFile(scratch / "urlhis.txt"), c.size > 10000 ? kept : text)
            << c.size;
        EXPECT_FALSE(FileExists(scratch / "~tmphis.txt"));
    }
}

}  // namespace
}  // namespace tarnwick
