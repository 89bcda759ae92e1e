// Small POSIX socket helpers shared by the test servers. Everything is loopback only
// (127.0.0.0/8 and ::1), every socket is non-blocking, and every wait has a deadline
// and can be broken by an optional wake descriptor (a pipe that becomes readable on stop).
// No shared state: any thread may call these functions on descriptors it owns.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// Milliseconds to pass to poll() for a deadline: -1 for none, rounded up so that a wait never
// ends before its deadline.
inline int PollTimeout(Deadline deadline) {
    if (deadline == kNoDeadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
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
    explicit operator bool() const { return fd_ >= 0; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Outcome of one bounded socket operation.
enum class IoStatus {
    kOk,        // done (for a wait: the descriptor is ready)
    kClosed,    // the peer closed the connection in order
    kTimedOut,  // the deadline passed
    kStopped,   // the wake descriptor became readable
    kFailed,    // a socket error (reset, refused, ...)
};

inline const char* IoStatusName(IoStatus status) {
    static const char* const kNames[] = {"ok", "closed by the peer", "timed out", "stopped",
                                         "failed"};
    return kNames[static_cast<int>(status)];
}

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT; errors and hang-ups count as
// ready; `fd` < 0 only sleeps). `wakeFd` < 0 means no wake descriptor.
inline IoStatus WaitFd(int fd, short events, Deadline deadline, int wakeFd = -1) {
    pollfd entries[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(entries, 2, PollTimeout(deadline));
        if (ready < 0 && errno != EINTR) return IoStatus::kFailed;
        if (entries[1].revents != 0) return IoStatus::kStopped;
        if (entries[0].revents != 0) return IoStatus::kOk;
        if (deadline != kNoDeadline && Clock::now() >= deadline) return IoStatus::kTimedOut;
    }
}

// A numeric loopback address, in 127.0.0.0/8 or ::1: the only peers tests may talk to. False
// for anything else.
struct LoopbackSockaddr {
    sockaddr_storage storage{};
    socklen_t length = 0;
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};
inline bool LoopbackAddress(std::string_view host, uint16_t port, LoopbackSockaddr& address) {
    const std::string text(host);
    address = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof *v4;
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    address.length = sizeof *v6;
    return inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1 &&
           IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
}

inline bool IsLoopbackAddress(std::string_view numericHost) {
    LoopbackSockaddr address;
    return LoopbackAddress(numericHost, 0, address);
}

// A TCP socket bound to `host` (a numeric loopback address), port 0 = chosen by the system.
// Invalid on failure (errno tells why).
inline UniqueFd BindLoopback(std::string_view host, uint16_t port) {
    LoopbackSockaddr address;
    if (!LoopbackAddress(host, port, address)) {
        errno = EINVAL;
        return {};
    }
    UniqueFd fd(socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd.Get(), address.Get(), address.length) != 0) return {};
    return fd;
}

// The same, listening.
inline UniqueFd ListenLoopback(std::string_view host = "127.0.0.1", uint16_t port = 0,
                               int backlog = 16) {
    UniqueFd fd = BindLoopback(host, port);
    if (fd && listen(fd.Get(), backlog) != 0) return {};
    return fd;
}

// The local port of a bound socket, 0 on failure.
inline uint16_t LocalPort(int fd) {
    LoopbackSockaddr address;
    address.length = sizeof address.storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0)
        return 0;
    return ntohs(address.storage.ss_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_port);
}

// A port on 127.0.0.1 that refuses every connection: bound, never listening, and held for the
// whole test program, so that no other socket can take it meanwhile.
inline uint16_t RefusingPort() {
    static const UniqueFd bound = BindLoopback("127.0.0.1", 0);
    return LocalPort(bound.Get());
}

// Connects to a numeric loopback address. A non-loopback address is refused (kFailed) without
// any network traffic.
inline IoStatus ConnectLoopback(std::string_view host, uint16_t port, Deadline deadline,
                                UniqueFd& out, int wakeFd = -1) {
    LoopbackSockaddr address;
    if (!LoopbackAddress(host, port, address)) return IoStatus::kFailed;
    out =
        UniqueFd(socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!out) return IoStatus::kFailed;
    if (connect(out.Get(), address.Get(), address.length) != 0) {
        if (errno != EINPROGRESS) return IoStatus::kFailed;
        const IoStatus waited = WaitFd(out.Get(), POLLOUT, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(out.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) return IoStatus::kFailed;
    }
    return IoStatus::kOk;
}

// Accepts one connection from a listening socket.
inline IoStatus AcceptWithin(int listenFd, Deadline deadline, UniqueFd& out, int wakeFd = -1) {
    for (;;) {
        const IoStatus waited = WaitFd(listenFd, POLLIN, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
        out.Reset(accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (out) return IoStatus::kOk;
        // A connection that was reset while queued is not an error of the listener.
        if (errno != EAGAIN && errno != ECONNABORTED && errno != EINTR) return IoStatus::kFailed;
    }
}

// Sends all of `bytes` (no SIGPIPE).
inline IoStatus SendAll(int fd, std::string_view bytes, Deadline deadline, int wakeFd = -1) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
        } else if (errno == EPIPE) {
            return IoStatus::kClosed;
        } else if (errno != EAGAIN && errno != EINTR) {
            return IoStatus::kFailed;
        } else if (const IoStatus waited = WaitFd(fd, POLLOUT, deadline, wakeFd);
                   waited != IoStatus::kOk) {
            return waited;
        }
    }
    return IoStatus::kOk;
}

// Waits for data and appends what one receive returns to `out`.
inline IoStatus ReceiveSome(int fd, std::string& out, Deadline deadline, int wakeFd = -1) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            out.append(buffer, static_cast<size_t>(got));
            return IoStatus::kOk;
        }
        if (got == 0) return IoStatus::kClosed;
        if (errno != EAGAIN && errno != EINTR) return IoStatus::kFailed;
        const IoStatus waited = WaitFd(fd, POLLIN, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
    }
}

// Receives until the peer closes: kClosed is the normal end. `idleLimit` bounds each wait for
// more bytes; 256 MiB bound the total (kFailed beyond it).
inline IoStatus ReceiveUntilClosed(int fd, std::string& out, std::chrono::milliseconds idleLimit,
                                   int wakeFd = -1) {
    IoStatus status = IoStatus::kOk;
    while (status == IoStatus::kOk && out.size() <= (size_t{256} << 20)) {
        status = ReceiveSome(fd, out, DeadlineAfter(idleLimit), wakeFd);
    }
    return status == IoStatus::kOk ? IoStatus::kFailed : status;
}

// Closes the socket with a reset (RST) instead of an orderly close.
inline void CloseWithReset(UniqueFd& fd) {
    const linger hardClose{1, 0};
    if (fd) setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
    fd.Reset();
}

// TCP_NODELAY, so that separately sent chunks leave as separate segments.
inline void DisableNagle(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace tarnwick::test
