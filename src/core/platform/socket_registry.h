// The per-thread dispatcher behind AsyncSocket and MessagePumpWait (internal to platform/).
//
// Every open AsyncSocket is registered with the registry of the thread that opened it, under
// an id that is never reused. MessagePumpWait asks the registry what to poll and hands the
// readiness back by id. Dispatching looks each socket up again by id before every
// notification, so a handler may open, close or destroy any socket of its thread (itself
// included), and may wait (and so dispatch) again, without leaving a dangling pointer behind.
//
// Threads: a registry is used only by its own thread. It is shared (not thread_local by value)
// so that a socket that outlives its thread can still unregister safely when destroyed.
#pragma once

#include <poll.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace tarnwick::platform {

class AsyncSocket;

namespace detail {

class SocketRegistry {
public:
    // The calling thread's registry, created on first use.
    static const std::shared_ptr<SocketRegistry>& ForCurrentThread();

    uint64_t Add(AsyncSocket& socket);
    void Remove(uint64_t id);
    AsyncSocket* Find(uint64_t id) const;

    // Appends one poll entry for every socket that is waiting for something, and its id.
    // True when some socket holds input that poll() cannot see (decrypted TLS bytes): the
    // poll must not block, and BufferedEvents adds that input to its result.
    bool CollectPollSet(std::vector<pollfd>& fds, std::vector<uint64_t>& ids) const;
    short BufferedEvents(uint64_t id) const;

    // Delivers the notifications that `revents` (from polling socket `id`) calls for.
    void Dispatch(uint64_t id, short revents);

private:
    std::map<uint64_t, AsyncSocket*> sockets;  // in order of registration: fair, predictable
    uint64_t nextId = 1;
};

}  // namespace detail
}  // namespace tarnwick::platform
