#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/socket_errors.h"

namespace tarnwick::platform {

namespace {

// Owns a getaddrinfo result list.
struct AddrInfoList {
    addrinfo* head = nullptr;
    ~AddrInfoList() {
        if (head) freeaddrinfo(head);
    }
};

addrinfo MakeHints(int family, int type, int flags) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = type;
    hints.ai_flags = flags | AI_NUMERICSERV;
    return hints;
}

void CopyAddress(const addrinfo& info, SocketAddress& out) {
    out = SocketAddress{};
    std::memcpy(&out.storage, info.ai_addr, info.ai_addrlen);
    out.length = info.ai_addrlen;
}

}  // namespace

bool AddressToText(const SocketAddress& address, std::string& host, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.Family() == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address.storage);
        if (!inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text)) return false;
        port = ntohs(v4.sin_port);
    } else if (address.Family() == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address.storage);
        if (!inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text)) return false;
        port = ntohs(v6.sin6_port);
    } else {
        return false;
    }
    host = text;
    return true;
}

int ParseNumericHost(const std::string& host, int port, int family, SocketAddress& out) {
    if (port < 0 || port > 65535) return WSAEINVAL;
    const std::string service = std::to_string(port);
    AddrInfoList list;
    if (host.empty()) {
        addrinfo hints = MakeHints(family, 0, AI_PASSIVE);
        if (getaddrinfo(nullptr, service.c_str(), &hints, &list.head) != 0) return WSAEINVAL;
        CopyAddress(*list.head, out);
        return 0;
    }
    // AF_UNSPEC first, so that an address of the wrong family is told apart from a name.
    addrinfo hints = MakeHints(AF_UNSPEC, 0, AI_NUMERICHOST);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list.head) != 0) {
        return WSAHOST_NOT_FOUND;
    }
    if (list.head->ai_family != family) return WSAEAFNOSUPPORT;
    CopyAddress(*list.head, out);
    return 0;
}

std::shared_ptr<NameLookup> NameLookup::Start(const std::string& host, int port, int family,
                                              int type) {
    auto lookup = std::make_shared<NameLookup>(Key{});
    if (!lookup->finished.Valid()) return nullptr;
    try {
        // The helper keeps the lookup alive until it has stored the result.
        std::thread([lookup, host, port, family, type] {
            lookup->Run(host, port, family, type);
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return lookup;
}

void NameLookup::Run(const std::string& host, int port, int family, int type) {
    const std::string service = std::to_string(port);
    addrinfo hints = MakeHints(family, type, 0);
    AddrInfoList list;
    errno = 0;
    const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &list.head);
    const int savedErrno = errno;
    {
        std::lock_guard lock(mutex);
        if (status == 0) {
            for (const addrinfo* info = list.head; info != nullptr; info = info->ai_next) {
                if (info->ai_family != AF_INET && info->ai_family != AF_INET6) continue;
                CopyAddress(*info, addresses.emplace_back());
            }
            if (addresses.empty()) error = WSAHOST_NOT_FOUND;
        } else {
            error = SocketErrorFromAddrInfo(status, savedErrno);
        }
        done = true;
        finished.Set();  // under the lock: no reader sees done before the event
    }
}

bool NameLookup::Result(int& errorOut, std::vector<SocketAddress>& addressesOut) const {
    std::lock_guard lock(mutex);
    if (!done) return false;
    errorOut = error;
    addressesOut = addresses;
    return true;
}

}  // namespace tarnwick::platform
