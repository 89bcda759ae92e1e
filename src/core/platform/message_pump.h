// MessagePumpWait: the wait every blocking step of a worker goes through. It waits for one of
// a few Waitables and, while it waits, dispatches the notifications of every AsyncSocket of
// the calling thread, the way MsgWaitForMultipleObjects plus a message loop did on Windows.
//
// Threads: any thread may wait; it dispatches only its own sockets. Handlers may wait again
// (nested waits), and may open, close or destroy sockets, including the one being notified.
// The caller owns the Waitables and keeps them alive during the wait.
#pragma once

#include <span>

#include "platform/event.h"

namespace tarnwick::platform {

inline constexpr int WAIT_OBJECT_0 = 0;
inline constexpr int WAIT_TIMEOUT = 0x102;
inline constexpr int WAIT_FAILED = -1;  // poll() failed (an invalid Waitable, for one)

// Waits until one of `handles` is signalled or `seconds` pass (-1: no limit; 0: only test).
// Returns the index of the signalled handle, the lowest one when several are (for an
// auto-reset object that consumes its signal, and only that one's), or WAIT_TIMEOUT.
//
// The deadline is fixed at the start on the monotonic clock, to the millisecond. Each pass
// waits for the time that remains; when sockets are ready it dispatches them and starts the
// next pass. A handler that runs past the deadline makes the wait report
// WAIT_TIMEOUT at once, even if a handle was signalled meanwhile (that signal stays).
int MessagePumpWait(std::span<Waitable* const> handles, int seconds);

// The single-handle form.
int MessagePumpWait(Waitable& handle, int seconds);

}  // namespace tarnwick::platform
