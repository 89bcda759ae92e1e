#include "platform/async_socket.h"

#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/socket_registry.h"

namespace tarnwick::platform {

namespace {

thread_local int lastError = 0;

int ClampLength(size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

bool IsSupportedFamily(int family) {
    return family == AF_INET || family == AF_INET6;
}

int PendingSocketError(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

}  // namespace

AsyncSocket::~AsyncSocket() {
    Close();
}

int AsyncSocket::GetLastError() {
    return lastError;
}

bool AsyncSocket::Fail(int error) {
    lastError = error;
    return false;
}

void AsyncSocket::OnReceive(int) {}
void AsyncSocket::OnSend(int) {}
void AsyncSocket::OnConnect(int) {}
void AsyncSocket::OnClose(int) {}
void AsyncSocket::OnAccept(int) {}
void AsyncSocket::OnTlsHandshake(int) {}

bool AsyncSocket::Register(int descriptor, int socketFamily, State initialState) {
    fd = descriptor;
    family = socketFamily;
    state = initialState;
    readEnabled = writeWanted = acceptEnabled = closeDelivered = false;
    familyFixed = false;
    registry = detail::SocketRegistry::ForCurrentThread();
    registryId = registry->Add(*this);
    return true;
}

bool AsyncSocket::Socket(int type, int socketFamily) {
    if (IsOpen()) return Fail(WSAEINVAL);
    if (!IsSupportedFamily(socketFamily)) return Fail(WSAEAFNOSUPPORT);
    const int descriptor = socket(socketFamily, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return Fail(SocketErrorFromErrno(errno));
    return Register(descriptor, socketFamily, State::kOpen);
}

bool AsyncSocket::Bind(int port, const std::string& address) {
    if (!IsOpen()) return Fail(WSAENOTSOCK);
    SocketAddress local;
    const int parsed = ParseNumericHost(address, port, family, local);
    if (parsed != 0) return Fail(parsed == WSAHOST_NOT_FOUND ? WSAEADDRNOTAVAIL : parsed);
    if (bind(fd, local.Get(), local.length) != 0) return Fail(SocketErrorFromErrno(errno));
    // The wildcard address on any port binds nothing a connect would not choose itself.
    familyFixed = port != 0 || !address.empty();
    return true;
}

bool AsyncSocket::Create(int port, int type, int socketFamily, const std::string& address) {
    if (!Socket(type, socketFamily)) return false;
    if (Bind(port, address)) return true;
    const int error = lastError;
    Close();
    return Fail(error);
}

bool AsyncSocket::Connect(const std::string& host, int port) {
    switch (state) {
        case State::kOpen:
            break;
        case State::kClosed:
            return Fail(WSAENOTSOCK);
        case State::kResolving:
        case State::kConnecting:
            return Fail(WSAEALREADY);
        case State::kConnected:
            return Fail(WSAEISCONN);
        default:
            return Fail(WSAEINVAL);
    }
    if (host.empty()) return Fail(WSAEINVAL);
    SocketAddress remote;
    const int parsed = ParseNumericHost(host, port, family, remote);
    if (parsed == 0) return StartConnect(remote);
    if (parsed != WSAHOST_NOT_FOUND) return Fail(parsed);
    int type = SOCK_STREAM;
    socklen_t length = sizeof type;
    getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    lookup = NameLookup::Start(host, port, familyFixed ? family : AF_UNSPEC, type);
    if (!lookup) return Fail(WSAENOBUFS);
    state = State::kResolving;
    return Fail(WSAEWOULDBLOCK);
}

// Returns false with WSAEWOULDBLOCK when OnConnect is to follow, or with the error of a
// connect that failed at once (the socket then stays open and unconnected).
bool AsyncSocket::StartConnect(const SocketAddress& address) {
    if (connect(fd, address.Get(), address.length) != 0 && errno != EINPROGRESS) {
        return Fail(SocketErrorFromErrno(errno));
    }
    // Even a connect that completed at once is reported through OnConnect, as on Windows,
    // so callers have one path.
    state = State::kConnecting;
    return Fail(WSAEWOULDBLOCK);
}

void AsyncSocket::EnterConnected() {
    state = State::kConnected;
    readEnabled = true;
    writeWanted = true;  // "ready to send" follows every connect and accept
}

bool AsyncSocket::Listen(int backlog) {
    if (state != State::kOpen) return Fail(IsOpen() ? WSAEINVAL : WSAENOTSOCK);
    if (listen(fd, backlog) != 0) return Fail(SocketErrorFromErrno(errno));
    state = State::kListening;
    acceptEnabled = true;
    return true;
}

bool AsyncSocket::Accept(AsyncSocket& into) {
    if (state != State::kListening) return Fail(IsOpen() ? WSAEINVAL : WSAENOTSOCK);
    if (into.IsOpen() || &into == this) return Fail(WSAEINVAL);
    acceptEnabled = true;
    const int descriptor = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (descriptor < 0) return Fail(SocketErrorFromErrno(errno));
    into.Register(descriptor, family, State::kConnected);
    into.EnterConnected();
    return true;
}

int AsyncSocket::Send(const void* data, size_t length) {
    if (state != State::kConnected) {
        Fail(IsOpen() ? WSAENOTCONN : WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (ssl) return TlsSend(data, length);
    const ssize_t sent = send(fd, data, ClampLength(length), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    const int error = SocketErrorFromErrno(errno);
    if (error == WSAEWOULDBLOCK) writeWanted = true;
    Fail(error);
    return SOCKET_ERROR;
}

int AsyncSocket::Receive(void* buffer, size_t length) {
    if (state != State::kConnected) {
        Fail(IsOpen() ? WSAENOTCONN : WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    readEnabled = true;
    if (ssl) return TlsReceive(buffer, length);
    const ssize_t received = recv(fd, buffer, ClampLength(length), 0);
    if (received >= 0) return static_cast<int>(received);
    Fail(SocketErrorFromErrno(errno));
    return SOCKET_ERROR;
}

bool AsyncSocket::ShutDown(int how) {
    if (!IsOpen()) return Fail(WSAENOTSOCK);
    const int mode = how == receives ? SHUT_RD : how == sends ? SHUT_WR : SHUT_RDWR;
    if (shutdown(fd, mode) != 0) return Fail(SocketErrorFromErrno(errno));
    return true;
}

void AsyncSocket::Close() {
    const int descriptor = Unregister();
    if (descriptor >= 0) close(descriptor);
}

int AsyncSocket::Unregister() {
    if (registry) registry->Remove(registryId);
    registry.reset();
    registryId = 0;
    lookup.reset();  // a late lookup result is simply never read
    candidates.clear();
    nextCandidate = 0;
    ssl.reset();
    tlsContext.reset();
    tlsState = TlsState::kNone;
    tlsWantsWrite = false;
    state = State::kClosed;
    readEnabled = writeWanted = acceptEnabled = closeDelivered = false;
    family = 0;
    const int descriptor = fd;
    fd = -1;
    return descriptor;
}

bool AsyncSocket::GetSockName(std::string& address, int& port) const {
    if (!IsOpen()) return Fail(WSAENOTSOCK);
    SocketAddress local;
    local.length = sizeof local.storage;
    if (getsockname(fd, local.Get(), &local.length) != 0) {
        return Fail(SocketErrorFromErrno(errno));
    }
    return AddressToText(local, address, port) || Fail(WSAEAFNOSUPPORT);
}

bool AsyncSocket::GetPeerName(std::string& address, int& port) const {
    if (!IsOpen()) return Fail(WSAENOTSOCK);
    SocketAddress peer;
    peer.length = sizeof peer.storage;
    if (getpeername(fd, peer.Get(), &peer.length) != 0) return Fail(SocketErrorFromErrno(errno));
    return AddressToText(peer, address, port) || Fail(WSAEAFNOSUPPORT);
}

bool AsyncSocket::SetSockOpt(int level, int name, const void* value, socklen_t length) {
    if (!IsOpen()) return Fail(WSAENOTSOCK);
    if (setsockopt(fd, level, name, value, length) != 0) return Fail(SocketErrorFromErrno(errno));
    return true;
}

bool AsyncSocket::SetReuseAddress(bool on) {
    const int value = on ? 1 : 0;
    return SetSockOpt(SOL_SOCKET, SO_REUSEADDR, &value, sizeof value);
}

bool AsyncSocket::SetNoDelay(bool on) {
    const int value = on ? 1 : 0;
    return SetSockOpt(IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

bool AsyncSocket::SetSendBufferSize(int bytes) {
    return SetSockOpt(SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

bool AsyncSocket::SetReceiveBufferSize(int bytes) {
    return SetSockOpt(SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// ---- dispatcher side ----

pollfd AsyncSocket::PollRequest() const {
    pollfd request{-1, 0, 0};
    switch (state) {
        case State::kResolving:
            request = {lookup->PollFd(), POLLIN, 0};
            break;
        case State::kConnecting:
            request = {fd, POLLOUT, 0};
            break;
        case State::kListening:
            if (acceptEnabled) request = {fd, POLLIN, 0};
            break;
        case State::kConnected: {
            if (tlsState == TlsState::kHandshaking) {
                request = {fd, static_cast<short>(tlsWantsWrite ? POLLOUT : POLLIN), 0};
                break;
            }
            short events = 0;
            if (readEnabled && !closeDelivered) events |= POLLIN;
            if (writeWanted) events |= POLLOUT;
            // Nothing wanted: leave the descriptor out, or a hang-up would wake every poll.
            if (events != 0) request = {fd, events, 0};
            break;
        }
        default:
            break;
    }
    return request;
}

bool AsyncSocket::RunStep(Step step, short revents) {
    constexpr short kTrouble = POLLERR | POLLHUP;
    switch (step) {
        case Step::kLookup:
            if (state != State::kResolving) return true;
            // revents belong to the lookup's descriptor, not the socket: stop after this step.
            if (revents & POLLIN) FinishLookup();
            return false;
        case Step::kConnect:
            if (state == State::kConnecting && (revents & (POLLOUT | kTrouble))) FinishConnect();
            return true;
        case Step::kAccept:
            if (state == State::kListening && acceptEnabled && (revents & (POLLIN | kTrouble))) {
                acceptEnabled = false;
                OnAccept(0);
            }
            return true;
        case Step::kWrite:
            if (state == State::kConnected && tlsState == TlsState::kHandshaking) {
                if (revents & (POLLOUT | kTrouble)) ContinueHandshake();
                return true;
            }
            if (state == State::kConnected && writeWanted && (revents & (POLLOUT | kTrouble))) {
                writeWanted = false;
                OnSend(0);
            }
            return true;
        case Step::kRead:
            if (state == State::kConnected && tlsState == TlsState::kHandshaking) {
                if (revents & (POLLIN | kTrouble)) ContinueHandshake();
                return true;
            }
            if (state == State::kConnected && readEnabled && !closeDelivered &&
                (revents & (POLLIN | kTrouble))) {
                ReadOrClose();
            }
            return true;
    }
    return false;
}

bool AsyncSocket::FinishLookup() {
    int error = 0;
    candidates.clear();
    if (!lookup->Result(error, candidates)) return false;
    lookup.reset();
    state = State::kOpen;
    nextCandidate = 0;
    if (error != 0) candidates.clear();
    ConnectNextCandidate(error);
    return true;
}

void AsyncSocket::ConnectNextCandidate(int error) {
    while (nextCandidate < candidates.size()) {
        const SocketAddress& address = candidates[nextCandidate];
        // A descriptor whose connect failed cannot be used again; nor can one of the wrong
        // family.
        const bool reopen = nextCandidate > 0 || address.Family() != family;
        ++nextCandidate;
        if (reopen && !Reopen(address.Family())) {
            error = lastError;
            continue;
        }
        state = State::kOpen;
        if (!StartConnect(address) && lastError == WSAEWOULDBLOCK) return;
        error = lastError;
    }
    candidates.clear();
    state = State::kFailed;
    OnConnect(error);
}

bool AsyncSocket::Reopen(int newFamily) {
    int type = SOCK_STREAM;
    socklen_t length = sizeof type;
    getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    const int descriptor = socket(newFamily, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return Fail(SocketErrorFromErrno(errno));
    close(fd);
    fd = descriptor;  // the registration is by id, not by descriptor: it stays
    family = newFamily;
    return true;
}

void AsyncSocket::FinishConnect() {
    const int error = SocketErrorFromErrno(PendingSocketError(fd));
    if (error == 0) {
        candidates.clear();
        EnterConnected();
        OnConnect(0);
        return;
    }
    if (nextCandidate < candidates.size()) {
        ConnectNextCandidate(error);  // the next address of the name
        return;
    }
    candidates.clear();
    state = State::kFailed;
    OnConnect(error);
}

// Peeks to tell data from the end of the stream, so the close is reported only after every
// byte that came before it has been offered.
void AsyncSocket::ReadOrClose() {
    if (HasBufferedInput()) {
        readEnabled = false;
        OnReceive(0);
        return;
    }
    char probe = 0;
    const ssize_t peeked = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        readEnabled = false;
        OnReceive(0);
        return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    closeDelivered = true;
    OnClose(peeked == 0 ? 0 : SocketErrorFromErrno(errno));
}

}  // namespace tarnwick::platform
