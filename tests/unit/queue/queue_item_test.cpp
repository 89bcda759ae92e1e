// Queue items: display texts and the size kept in two 32-bit halves.
#include "queue/queue_item.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(QueueItemTest, DisplayTexts) {
    const std::string_view states[] = {"queued", "transferring", "error", "stopped", "", ""};
    const int stateValues[] = {0, 1, 2, 3, 4, -1};
    for (size_t i = 0; i < std::size(stateValues); ++i) {
        EXPECT_EQ(QueueStateText(static_cast<QueueState>(stateValues[i])), states[i]) << i;
    }
    const std::string_view operations[] = {"Download", "Upload", "Delete", "CacheDir", ""};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(QueueOperationText(static_cast<QueueOperation>(i)), operations[i]) << i;
    }
    const std::string_view actions[] = {"", "Skip", "Resume", "Overwrite", ""};
    for (int i = -1; i < 4; ++i) EXPECT_EQ(OverwriteActionText(i), actions[i + 1]) << i;
}

TEST(QueueItemTest, SizeHalvesKeepSixtyFourBitsAndAnUnknownSize) {
    struct Case {
        int64_t size;
        int32_t high;
        int32_t low;
        int64_t readBack;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {1234, 0, 1234, 1234},
        {0x7FFFFFFF, 0, 0x7FFFFFFF, 0x7FFFFFFF},
        {0x80000000, 0, INT32_MIN, 0x80000000},  // low half above 2 GiB
        {(int64_t{5} << 32) + 3, 5, 3, (int64_t{5} << 32) + 3},
        {(int64_t{2} << 32) - 1, 1, -1, (int64_t{2} << 32) - 1},  // low half all ones, known
        {kUnknownSize, 0, -1, kUnknownSize},
        {-42, 0, -1, kUnknownSize},
        {0xFFFFFFFF, 0, -1, kUnknownSize},  // the one size that collides with the marker
    };
    for (const auto& c : cases) {
        QueueItem item;
        item.SetSize(c.size);
        EXPECT_EQ(item.sizeHigh, c.high) << c.size;
        EXPECT_EQ(item.sizeLow, c.low) << c.size;
        EXPECT_EQ(item.Size(), c.readBack) << c.size;
        EXPECT_EQ(item.SizeKnown(), c.readBack != kUnknownSize) << c.size;
    }
}

TEST(QueueItemTest, DamagedHalvesNeverGiveANegativeKnownSize) {
    QueueItem item;
    item.sizeHigh = -5;
    item.sizeLow = 3;
    EXPECT_FALSE(item.SizeKnown());
    EXPECT_EQ(item.Size(), kUnknownSize);
}

TEST(QueueItemTest, NewItemStartsQueuedWithUnknownSizeAndNoDecision) {
    const auto item = MakeQueueItem(QueueOperation::kUpload, "/home/u/a", "/pub/a");
    EXPECT_EQ(item->State(), QueueState::kQueued);
    EXPECT_FALSE(item->SizeKnown());
    EXPECT_EQ(item->overwriteAction, kNoOverwriteAction);
    EXPECT_EQ(item->kind, QueueItemKind::kFile);
    EXPECT_EQ(item->partner, nullptr);
}

}  // namespace
}  // namespace tarnwick
