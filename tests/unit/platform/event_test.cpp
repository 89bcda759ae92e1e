// Events, the waitable timer and the waits on them (without sockets), the worker thread, and
// the socket error numbers.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <tuple>

#include "platform/event.h"
#include "platform/message_pump.h"
#include "platform/socket_errors.h"
#include "platform/thread.h"

namespace tarnwick::platform {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Two threads wait on one event that another thread sets once: auto-reset wakes exactly one
// of them (the other times out), manual-reset wakes both, even from an unlimited wait.
TEST(Event, AutoResetWakesExactlyOneWaiterManualResetWakesAll) {
    for (const auto& [mode, seconds, expectedWoken] :
         {std::tuple{Event::kAutoReset, 1, 1}, std::tuple{Event::kManualReset, -1, 2}}) {
        Event event(mode);
        std::atomic<int> woken{0};
        auto wait = [&, seconds] { woken += MessagePumpWait(event, seconds) == WAIT_OBJECT_0; };
        std::thread first(wait), second(wait);
        std::this_thread::sleep_for(milliseconds(100));
        event.Set();
        first.join();
        second.join();
        EXPECT_EQ(woken.load(), expectedWoken) << "mode " << mode;
    }
}

TEST(MessagePumpWait, LowestSignalledHandleWinsAndOnlyItsSignalIsConsumed) {
    Event stop, closed, reply;
    closed.Set();
    closed.Set();  // an event is on or off: two sets are one signal
    reply.Set();
    Waitable* const handles[] = {&stop, &closed, &reply};
    EXPECT_EQ(MessagePumpWait(handles, 0), 1);
    EXPECT_FALSE(closed.TryWait());
    EXPECT_TRUE(reply.TryWait());  // still signalled for the next wait
}

TEST(WaitableTimer, FiresOnceAfterItsDelayAndNeverAfterCancelOrRearm) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Valid());
    const auto start = Clock::now();
    ASSERT_TRUE(timer.Arm(milliseconds(200)));
    EXPECT_FALSE(timer.TryWait());
    EXPECT_EQ(MessagePumpWait(timer, 5), WAIT_OBJECT_0);
    EXPECT_GE(Clock::now() - start, milliseconds(190));
    EXPECT_FALSE(timer.TryWait());  // one-shot, and the wait consumed the expiry

    ASSERT_TRUE(timer.Arm(milliseconds(0)));  // must not disarm, as a zero timerfd value does
    EXPECT_EQ(MessagePumpWait(timer, 1), WAIT_OBJECT_0);

    // An expiry nobody consumed must not end a wait on a later deadline, nor a cancelled one.
    ASSERT_TRUE(timer.Arm(milliseconds(0)));
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(timer.Arm(std::chrono::seconds(30)));
    EXPECT_FALSE(timer.TryWait());
    ASSERT_TRUE(timer.Arm(milliseconds(0)));
    std::this_thread::sleep_for(milliseconds(20));
    timer.Cancel();
    EXPECT_FALSE(timer.TryWait());
}

TEST(WorkerThread, LowersOnlyItsOwnPriorityAndSignalsItsEnd) {
    const auto ownNice = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int starterNice = ownNice();
    std::atomic<int> workerNice{-100};
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([&] { workerNice = ownNice(); }));
    ASSERT_EQ(MessagePumpWait(worker.Finished(), 10), WAIT_OBJECT_0);
    worker.Join();
    EXPECT_EQ(workerNice.load(), std::min(starterNice + kWorkerNiceSteps, 19));
    EXPECT_EQ(ownNice(), starterNice);
}

// The FTP code treats WSAEWOULDBLOCK as "try later" and 0 as success: no other errno may turn
// into either, or a real failure would be swallowed. The same holds for failed lookups.
TEST(SocketErrors, NoFailureLooksLikeSuccessOrWouldBlock) {
    for (int error = 1; error < 200; ++error) {
        const int mapped = SocketErrorFromErrno(error);
        EXPECT_NE(mapped, 0) << "errno " << error;
        EXPECT_TRUE(error == EAGAIN || mapped != WSAEWOULDBLOCK) << "errno " << error;
    }
    // A name that is not found is the socket test's; a system failure without errno still fails.
    EXPECT_EQ(SocketErrorFromAddrInfo(EAI_SYSTEM, ECONNREFUSED), WSAECONNREFUSED);
    EXPECT_EQ(SocketErrorFromAddrInfo(EAI_SYSTEM, 0), WSANO_RECOVERY);
    for (const int eai : {EAI_AGAIN, EAI_FAIL, EAI_NODATA, EAI_MEMORY}) {
        EXPECT_NE(SocketErrorFromAddrInfo(eai, 0), 0) << "EAI " << eai;
    }
}

}  // namespace
}  // namespace tarnwick::platform
