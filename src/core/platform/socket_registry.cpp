#include "platform/socket_registry.h"

#include "platform/async_socket.h"

namespace tarnwick::platform::detail {

const std::shared_ptr<SocketRegistry>& SocketRegistry::ForCurrentThread() {
    thread_local const std::shared_ptr<SocketRegistry> registry =
        std::make_shared<SocketRegistry>();
    return registry;
}

uint64_t SocketRegistry::Add(AsyncSocket& socket) {
    const uint64_t id = nextId++;
    sockets.emplace(id, &socket);
    return id;
}

void SocketRegistry::Remove(uint64_t id) {
    sockets.erase(id);
}

AsyncSocket* SocketRegistry::Find(uint64_t id) const {
    const auto found = sockets.find(id);
    return found == sockets.end() ? nullptr : found->second;
}

bool SocketRegistry::CollectPollSet(std::vector<pollfd>& fds, std::vector<uint64_t>& ids) const {
    bool buffered = false;
    for (const auto& [id, socket] : sockets) {
        const pollfd request = socket->PollRequest();
        if (request.fd < 0) continue;
        fds.push_back(request);
        ids.push_back(id);
        buffered = buffered || socket->HasBufferedInput();
    }
    return buffered;
}

short SocketRegistry::BufferedEvents(uint64_t id) const {
    const AsyncSocket* socket = Find(id);
    return socket != nullptr && socket->HasBufferedInput() ? POLLIN : 0;
}

void SocketRegistry::Dispatch(uint64_t id, short revents) {
    using Step = AsyncSocket::Step;
    for (const Step step :
         {Step::kLookup, Step::kConnect, Step::kAccept, Step::kWrite, Step::kRead}) {
        // Looked up afresh each time: the previous handler may have closed or destroyed it.
        AsyncSocket* socket = Find(id);
        if (!socket || !socket->RunStep(step, revents)) return;
    }
}

}  // namespace tarnwick::platform::detail
