// Threads for session workers: a std::thread whose end can be awaited with MessagePumpWait,
// and the "worker lowers its own priority" helper.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "platform/event.h"

namespace tarnwick::platform {

// Lowers the calling thread's scheduling priority (its nice value, by kWorkerNiceSteps), so
// that workers yield to the user interface. Only this thread changes. False when the system
// refused; the thread then runs at its old priority, which is harmless.
inline constexpr int kWorkerNiceSteps = 5;
bool LowerCurrentThreadPriority();

// One thread running one function.
// Threads: Start, Join, Detach and the destructor on the owning thread (the one that started
// it); Finished() may be waited on from any thread. The destructor joins. A detached thread
// touches nothing of this object any more: its end is signalled on an event the thread
// shares, so the object may go away before the thread ends.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` on a new thread, which first lowers its own priority when
    // `lowerPriority` is set. False when a thread is already running or none could be started.
    bool Start(std::function<void()> body, bool lowerPriority = true);

    // Manual-reset event, signalled once `body` has returned.
    Waitable& Finished() { return *finished; }

    bool Joinable() const { return thread.joinable(); }
    void Join();
    void Detach();  // lets a running thread end on its own; Start may then start another

private:
    std::shared_ptr<Event> finished = std::make_shared<Event>(Event::kManualReset);
    std::thread thread;
};

}  // namespace tarnwick::platform
