// Waitable objects that stand in for Win32 events and waitable timers. Each one is backed by a
// file descriptor, so MessagePumpWait can poll() them together with the thread's sockets.
//
// Threads: Set, Reset, TryWait, Arm and Cancel may be called from any thread at any time; the
// object itself must outlive every thread that uses it. The object owns its descriptor.
#pragma once

#include <chrono>

namespace tarnwick::platform {

// Something MessagePumpWait can wait for.
class Waitable {
public:
    virtual ~Waitable() = default;

    // The descriptor that poll() reports readable while the object may be signalled. A
    // readable descriptor is only a hint: TryWait decides (another thread may win the race).
    virtual int PollFd() const = 0;

    // Zero-timeout test: true when the object is signalled. For an auto-reset object a true
    // result consumes the signal, so of several waiters exactly one sees it.
    virtual bool TryWait() = 0;

protected:
    Waitable() = default;
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;
};

// A Win32-style event on an eventfd. Auto-reset: one successful wait consumes the signal, and
// setting an already signalled event changes nothing. Manual-reset: it stays signalled for
// every waiter until Reset.
class Event final : public Waitable {
public:
    enum Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode = kAutoReset, bool signalled = false);
    ~Event() override;

    // False only when the descriptor could not be created (the process is out of
    // descriptors); such an event is never signalled.
    bool Valid() const { return fd >= 0; }

    void Set();
    void Reset();
    bool TryWait() override;
    int PollFd() const override { return fd; }

private:
    Mode mode;
    int fd = -1;
};

// A one-shot auto-reset waitable timer on a timerfd (CLOCK_MONOTONIC, so changes of the
// calendar clock do not move it). Starts disarmed. When the due time passes it becomes
// signalled; one successful wait consumes that.
class WaitableTimer final : public Waitable {
public:
    WaitableTimer();
    ~WaitableTimer() override;

    bool Valid() const { return fd >= 0; }

    // Fires once, `delay` from now (0 or less: at once). Re-arming replaces the previous due
    // time and clears an expiry that was not yet consumed. False when the timer cannot be set.
    bool Arm(std::chrono::milliseconds delay);

    // Disarms the timer and clears an expiry that was not yet consumed, so that a cancelled
    // deadline can never end a later wait.
    void Cancel();

    bool TryWait() override;
    int PollFd() const override { return fd; }

private:
    int fd = -1;
};

}  // namespace tarnwick::platform
