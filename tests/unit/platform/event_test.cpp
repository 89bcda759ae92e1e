// Events, the waitable timer and the waits on them (without sockets).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "platform/event.h"
#include "platform/message_pump.h"

namespace tarnwick::platform {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

milliseconds ElapsedSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

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

TEST(MessagePumpWait, TimesOutAfterTheWholeSecondsAndAtOnceForZero) {
    Event never;
    auto start = Clock::now();
    EXPECT_EQ(MessagePumpWait(never, 0), WAIT_TIMEOUT);
    EXPECT_LT(ElapsedSince(start), milliseconds(500));

    start = Clock::now();
    EXPECT_EQ(MessagePumpWait(never, 1), WAIT_TIMEOUT);
    // One-second resolution: at least the full second of the pass, at most about two.
    EXPECT_GE(ElapsedSince(start), milliseconds(950));
    EXPECT_LT(ElapsedSince(start), milliseconds(2500));

    EXPECT_EQ(MessagePumpWait(std::span<Waitable* const>{}, 0), WAIT_TIMEOUT);
}

TEST(WaitableTimer, FiresOnceAfterItsDelayAndNeverAfterCancelOrRearm) {
    WaitableTimer timer;
    ASSERT_TRUE(timer.Valid());
    EXPECT_FALSE(timer.TryWait());  // starts disarmed
    const auto start = Clock::now();
    ASSERT_TRUE(timer.Arm(milliseconds(200)));
    EXPECT_FALSE(timer.TryWait());
    EXPECT_EQ(MessagePumpWait(timer, 5), WAIT_OBJECT_0);
    EXPECT_GE(ElapsedSince(start), milliseconds(190));
    EXPECT_FALSE(timer.TryWait());  // one-shot, and the wait consumed the expiry

    ASSERT_TRUE(timer.Arm(milliseconds(0)));  // must not disarm, as a zero timerfd value does
    EXPECT_EQ(MessagePumpWait(timer, 1), WAIT_OBJECT_0);

    // An expiry nobody consumed must not end a wait on a later deadline, nor a cancelled one.
    ASSERT_TRUE(timer.Arm(milliseconds(0)));
    std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(timer.Arm(std::chrono::seconds(30)));
    EXPECT_FALSE(timer.TryWait());
    timer.Cancel();
    ASSERT_TRUE(timer.Arm(milliseconds(0)));
    std::this_thread::sleep_for(milliseconds(20));
    timer.Cancel();
    EXPECT_FALSE(timer.TryWait());
}

}  // namespace
}  // namespace tarnwick::platform
