#include "interrupt_watcher.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tarnwick::cli {

namespace {

constexpr char kInterruptByte = 'i';
constexpr char kQuitByte = 'q';

// The handler's only state: the write end of the self-pipe.
std::atomic<int> signalPipe{-1};

extern "C" void HandleInterrupt(int) {
    const int savedErrno = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        // Non-blocking: with the pipe full, an interrupt is already pending anyway.
        [[maybe_unused]] const ssize_t written = ::write(fd, &kInterruptByte, 1);
    }
    errno = savedErrno;
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    readFd_ = fds[0];
    writeFd_ = fds[1];
    ::fcntl(writeFd_, F_SETFL, O_NONBLOCK);
    signalPipe = writeFd_;
    struct sigaction action {};
    action.sa_handler = HandleInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, &previous_) != 0) {
        signalPipe = -1;
        return;
    }
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &interrupt, &previousMask_);
    active_ = true;
    thread_ = std::thread([this] { Watch(); });
}

InterruptWatcher::~InterruptWatcher() {
    if (active_) {
        ::sigaction(SIGINT, &previous_, nullptr);
        signalPipe = -1;
        // No handler writes any more: a blocking write of the quit byte waits, at worst,
        // until the watcher has drained pending interrupt bytes.
        ::fcntl(writeFd_, F_SETFL, 0);
        while (::write(writeFd_, &kQuitByte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    if (readFd_ >= 0) ::close(readFd_);
    if (writeFd_ >= 0) ::close(writeFd_);
}

void InterruptWatcher::Watch() {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    while (true) {
        char byte = 0;
        const ssize_t got = ::read(readFd_, &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || byte == kQuitByte) return;
        onInterrupt_();
    }
}

}  // namespace tarnwick::cli
