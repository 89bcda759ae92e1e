#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/message_pump.h"
#include "platform/thread.h"

namespace tarnwick::platform {
namespace {

int OwnNice() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

TEST(WorkerThread, LowersOnlyItsOwnPriorityAndSignalsItsEnd) {
    const int starterNice = OwnNice();
    std::atomic<int> workerNice{-100};
    Event release;
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([&] {
        workerNice = OwnNice();
        MessagePumpWait(release, 10);
    }));
    EXPECT_FALSE(worker.Start([] {}));  // one body at a time
    EXPECT_EQ(MessagePumpWait(worker.Finished(), 0), WAIT_TIMEOUT);
    release.Set();
    ASSERT_EQ(MessagePumpWait(worker.Finished(), 10), WAIT_OBJECT_0);
    worker.Join();
    EXPECT_EQ(workerNice.load(), std::min(starterNice + kWorkerNiceSteps, 19));
    EXPECT_EQ(OwnNice(), starterNice);
}

}  // namespace
}  // namespace tarnwick::platform
