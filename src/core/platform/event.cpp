#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

namespace tarnwick::platform {

namespace {

bool ReadCounter(int fd) {
    uint64_t value = 0;
    return fd >= 0 && read(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool IsReadable(int fd) {
    if (fd < 0) return false;
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

}  // namespace

Event::Event(Mode mode, bool signalled)
    : mode(mode), fd(eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Event::~Event() {
    if (fd >= 0) close(fd);
}

void Event::Set() {
    if (fd < 0) return;
    // The counter only grows towards its limit of 2^64-2; a full counter is signalled anyway,
    // so a failed write (EAGAIN) loses nothing.
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(fd, &one, sizeof one);
}

void Event::Reset() {
    ReadCounter(fd);  // reading sets the counter to 0; an unsignalled event reads EAGAIN
}

bool Event::TryWait() {
    // Reading the eventfd is atomic: when several threads race, exactly one gets the count.
    return mode == kAutoReset ? ReadCounter(fd) : IsReadable(fd);
}

WaitableTimer::WaitableTimer() : fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}

WaitableTimer::~WaitableTimer() {
    if (fd >= 0) close(fd);
}

bool WaitableTimer::Arm(std::chrono::milliseconds delay) {
    if (fd < 0) return false;
    // An all-zero due time would disarm a timerfd, so "at once" is one nanosecond.
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
    if (nanoseconds <= 0) nanoseconds = 1;
    Cancel();
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    due.it_value.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    return timerfd_settime(fd, 0, &due, nullptr) == 0;
}

void WaitableTimer::Cancel() {
    if (fd < 0) return;
    // Disarm first, then drain: once disarmed no expiry can slip in between, so nothing the
    // previous due time produced survives (not every kernel clears the count on re-arming).
    const itimerspec disarmed{};
    timerfd_settime(fd, 0, &disarmed, nullptr);
    ReadCounter(fd);
}

bool WaitableTimer::TryWait() {
    return ReadCounter(fd);
}

}  // namespace tarnwick::platform
