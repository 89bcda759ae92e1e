// Small POSIX socket helpers shared by the test servers. Everything is IPv4 loopback only
// (127.0.0.0/8), every socket is non-blocking, and every wait has a deadline
// and can be broken by an optional wake descriptor (a pipe that becomes readable on stop).
// No shared state: any thread may call these functions on descriptors it owns.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick::test {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

constexpr Deadline kNoDeadline = Deadline::max();

inline Deadline DeadlineAfter(std::chrono::milliseconds duration) {
    return Clock::now() + duration;
}

// Owns one file descriptor and closes it on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// Milliseconds to pass to poll() for a deadline: -1 for none, rounded up so that a wait never
// ends before its deadline.
int PollTimeout(Deadline deadline);

// Outcome of one bounded socket operation.
enum class IoStatus {
    kOk,        // done (for a wait: the descriptor is ready)
    kClosed,    // the peer closed the connection in order
    kTimedOut,  // the deadline passed
    kStopped,   // the wake descriptor became readable
    kFailed,    // a socket error (reset, refused, ...)
};

const char* IoStatusName(IoStatus status);

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT; errors and hang-ups count as
// ready). `wakeFd` < 0 means no wake descriptor.
IoStatus WaitFd(int fd, short events, Deadline deadline, int wakeFd = -1);

// Sleeps until the deadline; kStopped when the wake descriptor fired first, else kOk.
IoStatus SleepUntil(Deadline deadline, int wakeFd);

// True for 127.0.0.0/8: the only peers tests may talk to.
bool IsLoopbackAddress(std::string_view numericHost);

// A listening TCP socket on `host` (numeric IPv4 loopback address), port 0 = chosen by the system.
// Invalid on failure (errno tells why).
UniqueFd ListenLoopback(std::string_view host = "127.0.0.1", uint16_t port = 0, int backlog = 16);

// The local port of a bound socket, 0 on failure.
uint16_t LocalPort(int fd);

// Connects to a numeric loopback address. A non-loopback address is refused (kFailed) without
// any network traffic.
IoStatus ConnectLoopback(std::string_view host, uint16_t port, Deadline deadline, UniqueFd& out,
                         int wakeFd = -1);

// Accepts one connection from a listening socket.
IoStatus AcceptWithin(int listenFd, Deadline deadline, UniqueFd& out, int wakeFd = -1);

// Sends all of `bytes` (no SIGPIPE).
IoStatus SendAll(int fd, std::string_view bytes, Deadline deadline, int wakeFd = -1);

// Waits for data and appends what one receive returns (at most `maxBytes`) to `out`.
IoStatus ReceiveSome(int fd, std::string& out, Deadline deadline, int wakeFd = -1,
                     size_t maxBytes = 64 * 1024);

// Receives until the peer closes: kClosed is the normal end. `idleLimit` bounds each wait for
// more bytes; `maxBytes` bounds the total (kFailed beyond it).
IoStatus ReceiveUntilClosed(int fd, std::string& out, std::chrono::milliseconds idleLimit,
                            int wakeFd = -1, size_t maxBytes = size_t{256} << 20);

// Closes the socket with a reset (RST) instead of an orderly close.
void CloseWithReset(UniqueFd& fd);

// TCP_NODELAY, so that separately sent chunks leave as separate segments.
void DisableNagle(int fd);

}  // namespace tarnwick::test
