// Socket addresses and host name lookups for AsyncSocket.
//
// A lookup runs getaddrinfo on a helper thread of its own, so that a worker waiting for a
// connection stays responsive to its stop event and its deadline however slow the resolver
// is. The result comes back through a pollable descriptor that the socket dispatcher watches.
// The lookup object is shared between the requester and the helper thread: when the
// requester gives up (closes or destroys its socket) the helper finishes into an object
// nobody reads, which then goes away with the helper's reference.
#pragma once

#include <sys/socket.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"

namespace tarnwick::platform {

// An address of any family, as the socket calls take it.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* Get() { return reinterpret_cast<sockaddr*>(&storage); }
    int Family() const { return storage.ss_family; }
};

// Numeric host text ("127.0.0.1", "::1") and port of an address. False for a family other
// than AF_INET and AF_INET6.
bool AddressToText(const SocketAddress& address, std::string& host, int& port);

// Parses a numeric host without any lookup ("127.0.0.1", "::1"; the forms inet_aton accepts,
// like "127.1", too). Returns 0 with `out` filled; WSAHOST_NOT_FOUND when `host` is not
// numeric (so it is a name to look up); WSAEAFNOSUPPORT when it is an address of another
// family than `family`. An empty host is the wildcard address of the family.
int ParseNumericHost(const std::string& host, int port, int family, SocketAddress& out);

// One lookup of a host name for a socket of `family` (AF_UNSPEC: addresses of every family, in
// the resolver's order) and `type`. Start and the accessors may be called from any thread.
class NameLookup {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit NameLookup(Key) {}  // only through Start

    // Starts the lookup. Null when no helper thread could be started.
    static std::shared_ptr<NameLookup> Start(const std::string& host, int port, int family,
                                             int type);

    // Readable once the lookup has finished (and stays so).
    int PollFd() const { return finished.PollFd(); }

    // True once finished; then `error` is 0 with every address found (at least one), in the
    // order to try them, or the Windows Sockets number of the failure (11001 for an unknown
    // host).
    bool Result(int& error, std::vector<SocketAddress>& addresses) const;

private:
    void Run(const std::string& host, int port, int family, int type);

    Event finished{Event::kManualReset};
    mutable std::mutex mutex;
    bool done = false;  // guarded by mutex, like the two below
    int error = 0;
    std::vector<SocketAddress> addresses;
};

}  // namespace tarnwick::platform
