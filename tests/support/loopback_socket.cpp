#include "loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnwick::test {

namespace {

// A numeric IPv4 address; false when the text is not one.
bool MakeAddress(std::string_view host, uint16_t port, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return inet_pton(AF_INET, std::string(host).c_str(), &address.sin_addr) == 1;
}

}  // namespace

int PollTimeout(Deadline deadline) {
    if (deadline == kNoDeadline) return -1;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, 60'000));
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

const char* IoStatusName(IoStatus status) {
    static const char* const kNames[] = {"ok", "closed by the peer", "timed out", "stopped",
                                         "failed"};
    return kNames[static_cast<int>(status)];
}

IoStatus WaitFd(int fd, short events, Deadline deadline, int wakeFd) {
    pollfd entries[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd >= 0 ? 2 : 1;
    for (;;) {
        const int ready = poll(entries, count, PollTimeout(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return IoStatus::kFailed;
        }
        if (count == 2 && entries[1].revents != 0) return IoStatus::kStopped;
        if (entries[0].revents != 0) return IoStatus::kOk;
        if (deadline != kNoDeadline && Clock::now() >= deadline) return IoStatus::kTimedOut;
    }
}

IoStatus SleepUntil(Deadline deadline, int wakeFd) {
    // Without a wake descriptor poll() ignores the negative one and just waits.
    return WaitFd(wakeFd, POLLIN, deadline) == IoStatus::kOk ? IoStatus::kStopped : IoStatus::kOk;
}

bool IsLoopbackAddress(std::string_view numericHost) {
    sockaddr_in address;
    return MakeAddress(numericHost, 0, address) && (ntohl(address.sin_addr.s_addr) >> 24) == 127;
}

UniqueFd ListenLoopback(std::string_view host, uint16_t port, int backlog) {
    sockaddr_in address;
    if (!MakeAddress(host, port, address) || !IsLoopbackAddress(host)) {
        errno = EINVAL;
        return {};
    }
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) return {};
    const int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd.Get(), backlog) != 0) {
        return {};
    }
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

IoStatus ConnectLoopback(std::string_view host, uint16_t port, Deadline deadline, UniqueFd& out,
                         int wakeFd) {
    out.Reset();
    sockaddr_in address;
    if (!MakeAddress(host, port, address) || !IsLoopbackAddress(host)) return IoStatus::kFailed;
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) return IoStatus::kFailed;
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return IoStatus::kFailed;
        const IoStatus waited = WaitFd(fd.Get(), POLLOUT, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return IoStatus::kFailed;
        }
    }
    out = std::move(fd);
    return IoStatus::kOk;
}

IoStatus AcceptWithin(int listenFd, Deadline deadline, UniqueFd& out, int wakeFd) {
    out.Reset();
    for (;;) {
        const IoStatus waited = WaitFd(listenFd, POLLIN, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            out.Reset(fd);
            return IoStatus::kOk;
        }
        // A connection that was reset while queued is not an error of the listener.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR) {
            return IoStatus::kFailed;
        }
    }
}

IoStatus SendAll(int fd, std::string_view bytes, Deadline deadline, int wakeFd) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return errno == EPIPE ? IoStatus::kClosed : IoStatus::kFailed;
        }
        const IoStatus waited = WaitFd(fd, POLLOUT, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
    }
    return IoStatus::kOk;
}

IoStatus ReceiveSome(int fd, std::string& out, Deadline deadline, int wakeFd, size_t maxBytes) {
    char buffer[64 * 1024];
    const size_t want = std::min(maxBytes, sizeof buffer);
    for (;;) {
        const ssize_t got = recv(fd, buffer, want, 0);
        if (got > 0) {
            out.append(buffer, static_cast<size_t>(got));
            return IoStatus::kOk;
        }
        if (got == 0) return IoStatus::kClosed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::kFailed;
        const IoStatus waited = WaitFd(fd, POLLIN, deadline, wakeFd);
        if (waited != IoStatus::kOk) return waited;
    }
}

IoStatus ReceiveUntilClosed(int fd, std::string& out, std::chrono::milliseconds idleLimit,
                            int wakeFd, size_t maxBytes) {
    for (;;) {
        const IoStatus status = ReceiveSome(fd, out, DeadlineAfter(idleLimit), wakeFd);
        if (status != IoStatus::kOk) return status;
        if (out.size() > maxBytes) return IoStatus::kFailed;
    }
}

void CloseWithReset(UniqueFd& fd) {
    if (!fd) return;
    const linger hardClose{1, 0};
    setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose);
    fd.Reset();
}

void DisableNagle(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace tarnwick::test
