// Ctrl-C, SIGTERM and SIGHUP for the command-line client: one request to stop, however it
// comes. The signals are blocked in every thread of the client and taken by one watcher thread with
// sigwait, which calls the callback outside signal context, where it may take locks. (A handler
// writing into a self-pipe would do too, but sanitizer runtimes defer handlers while a thread sits
// in a restarted read, so sigwait it is.)
//
// Threads: construct on the main thread BEFORE starting any other thread: it blocks the
// signals in the calling thread, and every thread started later inherits the block. The callback
// runs on the watcher's thread. One watcher at a time per process. The destructor (main
// thread) ends the watcher and restores the signal mask.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace tarnwick::cli {

class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

private:
    void Watch();

    std::function<void()> onInterrupt_;
    sigset_t interrupt_{};
    sigset_t previousMask_{};
    std::atomic<bool> quitting_{false};
    std::thread thread_;  // last: started once everything above is set
};

}  // namespace tarnwick::cli
