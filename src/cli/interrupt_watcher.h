// Ctrl-C for the command-line client. SIGINT is caught by a handler that only writes one
// byte into a self-pipe; a small thread reads the pipe and calls the callback, outside
// signal context, where it may take locks.
//
// Threads: construct on the main thread BEFORE starting any other thread: it blocks SIGINT
// in the calling thread, so that every thread started later inherits the block and the
// signal is delivered to the watcher's thread alone (no other thread's system call is cut
// short by it). The callback runs on the watcher's thread. One watcher at a time per
// process. The destructor (main thread) restores the previous disposition and signal mask
// and ends the thread.
#pragma once

#include <csignal>
#include <functional>
#include <thread>

namespace tarnwick::cli {

class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // False when the pipe or the handler could not be set up (Ctrl-C then ends the process
    // the default way).
    bool Active() const { return active_; }

private:
    void Watch();

    std::function<void()> onInterrupt_;
    int readFd_ = -1;
    int writeFd_ = -1;
    bool active_ = false;
    struct sigaction previous_ {};
    sigset_t previousMask_{};
    std::thread thread_;
};

}  // namespace tarnwick::cli
