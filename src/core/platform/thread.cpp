#include "platform/thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tarnwick::platform {

namespace {
constexpr int kLowestNice = 19;
}

bool LowerCurrentThreadPriority() {
    // On Linux the nice value belongs to the thread (the kernel task), so PRIO_PROCESS with
    // the thread id changes only the calling thread.
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, self);
    if (current == -1 && errno != 0) return false;
    return setpriority(PRIO_PROCESS, self, std::min(current + kWorkerNiceSteps, kLowestNice)) == 0;
}

WorkerThread::~WorkerThread() {
    Join();
}

bool WorkerThread::Start(std::function<void()> body, bool lowerPriority) {
    if (thread.joinable() || !body) return false;
    finished = std::make_shared<Event>(Event::kManualReset);
    try {
        thread = std::thread([done = finished, body = std::move(body), lowerPriority] {
            if (lowerPriority) LowerCurrentThreadPriority();
            body();
            done->Set();  // the shared event: this object may be gone by now
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThread::Join() {
    if (thread.joinable()) thread.join();
}

void WorkerThread::Detach() {
    if (thread.joinable()) thread.detach();
}

}  // namespace tarnwick::platform
