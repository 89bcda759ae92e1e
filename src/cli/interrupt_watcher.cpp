#include "interrupt_watcher.h"

namespace tarnwick::cli {

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    sigemptyset(&interrupt_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupt_, signal);
    ::pthread_sigmask(SIG_BLOCK, &interrupt_, &previousMask_);
    thread_ = std::thread([this] { Watch(); });
}

InterruptWatcher::~InterruptWatcher() {
    quitting_ = true;
    // The watcher's own SIGINT ends its sigwait; the flag tells it this one is not the user's.
    ::pthread_kill(thread_.native_handle(), SIGINT);
    thread_.join();
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void InterruptWatcher::Watch() {
    while (true) {
        int signal = 0;
        if (::sigwait(&interrupt_, &signal) != 0) return;  // only for an invalid set
        if (quitting_) return;
        onInterrupt_();
    }
}

}  // namespace tarnwick::cli
