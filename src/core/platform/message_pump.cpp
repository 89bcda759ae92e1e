#include "platform/message_pump.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/socket_registry.h"

namespace tarnwick::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr short kSignalled = POLLIN | POLLERR | POLLHUP;

// Milliseconds this pass may block: -1 without deadline; false when the deadline passed
// before a later pass (the first pass always looks at the handles once).
bool PassTimeout(bool hasDeadline, Clock::time_point deadline, bool firstPass, int& timeoutMs) {
    timeoutMs = -1;
    if (!hasDeadline) return true;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
        timeoutMs = 0;
        return firstPass;
    }
    // Rounded up, so that a pass never ends just before the deadline and spins.
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    timeoutMs = static_cast<int>(std::min<int64_t>(remaining, INT_MAX));
    return true;
}

// The lowest ready handle that really is signalled (this consumes an auto-reset signal), or -1.
int FirstSignalled(std::span<Waitable* const> handles, const std::vector<pollfd>& fds) {
    for (size_t i = 0; i < handles.size(); ++i) {
        if ((fds[i].revents & kSignalled) && handles[i]->TryWait()) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

int MessagePumpWait(std::span<Waitable* const> handles, int seconds) {
    const bool hasDeadline = seconds != -1;
    // The monotonic clock: setting the calendar clock neither shortens nor stretches a wait.
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(hasDeadline ? seconds : 0);
    detail::SocketRegistry& registry = *detail::SocketRegistry::ForCurrentThread();
    std::vector<pollfd> fds;
    std::vector<uint64_t> socketIds;
    for (bool firstPass = true;; firstPass = false) {
        int timeoutMs = -1;
        if (!PassTimeout(hasDeadline, deadline, firstPass, timeoutMs)) return WAIT_TIMEOUT;
        fds.clear();
        socketIds.clear();
        for (Waitable* handle : handles) fds.push_back({handle->PollFd(), POLLIN, 0});
        const bool buffered = registry.CollectPollSet(fds, socketIds);
        if (buffered) timeoutMs = 0;  // that input is ready now

        const int ready = poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return WAIT_FAILED;
        }
        if (ready == 0 && !buffered) return WAIT_TIMEOUT;
        for (size_t i = 0; i < handles.size(); ++i) {
            if (fds[i].revents & POLLNVAL) return WAIT_FAILED;  // its descriptor was closed
        }
        const int signalled = FirstSignalled(handles, fds);
        if (signalled >= 0) return WAIT_OBJECT_0 + signalled;
        // Only now the sockets: a signalled handle wins over pending notifications, which
        // stay pending (poll reports them again) for the next wait.
        for (size_t i = 0; i < socketIds.size(); ++i) {
            short revents = fds[handles.size() + i].revents;
            if (buffered) revents |= registry.BufferedEvents(socketIds[i]);
            if (revents != 0) registry.Dispatch(socketIds[i], revents);
        }
    }
}

int MessagePumpWait(Waitable& handle, int seconds) {
    Waitable* const handles[] = {&handle};
    return MessagePumpWait(handles, seconds);
}

}  // namespace tarnwick::platform
