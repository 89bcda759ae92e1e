// Queue items: display texts and the size kept in two 32-bit halves.
#include "queue/queue_item.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(QueueItemTest, DisplayTexts) {
    std::string states, operations, actions;
    for (int i = -1; i <= 4; ++i) {
        states += std::string(QueueStateText(static_cast<QueueState>(i))) + ",";
        operations += std::string(QueueOperationText(static_cast<QueueOperation>(i))) + ",";
        actions += std::string(OverwriteActionText(i)) + ",";
    }
    EXPECT_EQ(states, ",queued,transferring,error,stopped,,");
    EXPECT_EQ(operations, ",Download,Upload,Delete,CacheDir,,");
    EXPECT_EQ(actions, ",Skip,Resume,Overwrite,,,");
}

// Sizes round-trip through the queue file tests; here the edges of the unknown marker.
TEST(QueueItemTest, UnknownSizeIsNoRealSize) {
    QueueItem item;
    EXPECT_FALSE(item.SizeKnown());  // until the creator sets one
    item.SetSize((int64_t{2} << 32) - 1);
    EXPECT_EQ(std::pair(item.sizeHigh, item.sizeLow), std::pair(1, -1));  // low half all ones
    EXPECT_TRUE(item.SizeKnown());
    item.SetSize(0xFFFFFFFF);  // the one size whose halves are the marker
    EXPECT_FALSE(item.SizeKnown());
    item.SetSize(-42);
    EXPECT_EQ(std::pair(item.sizeHigh, item.sizeLow), std::pair(0, -1));
}

}  // namespace
}  // namespace tarnwick
