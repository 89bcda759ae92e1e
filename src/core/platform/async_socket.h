// AsyncSocket: a non-blocking socket whose readiness arrives as virtual notifications, the way
// Windows asynchronous sockets deliver them as window messages.
//
// Threads and ownership: a socket belongs to the thread that opened it (Socket, Create, or
// Accept into it). Only that thread may use it, and its notifications are
// dispatched only on that thread, while it waits in MessagePumpWait. The object owns its
// descriptor and must stay where it is while open (it is registered by address). It may be
// destroyed on another thread only when it is closed or its thread has ended. A handler may
// open, close or destroy any socket of its thread, itself included, and may wait again.
//
// Notifications (each handler gets 0 or a Windows Sockets error number):
// - OnConnect: once per Connect that reported WSAEWOULDBLOCK, with the outcome (0 connected,
//   WSAECONNREFUSED, WSAHOST_NOT_FOUND for a name that does not resolve, ...).
// - OnSend: once after a successful connect or accept, and then only after a Send that
//   failed with WSAEWOULDBLOCK, as soon as there is room again.
// - OnReceive: when data is available; not again until the handler (or anyone) has called
//   Receive, so a handler that does not read is not called in a busy loop.
// - OnClose: once, when the peer has closed (0) or reset (WSAECONNRESET) the connection. It
//   comes after all data that arrived before the close has been offered by OnReceive: the
//   dispatcher peeks and reports the close when a read would show the end of the stream.
//   (So a handler that stops reading learns of a close only once it reads again.)
// - OnAccept: when a connection is waiting on a listening socket; not again until Accept.
//
// - OnTlsHandshake: once per StartTls, when the handshake has ended (0, or WSAECONNABORTED
//   with the reason in TlsErrorText()). Until then no OnReceive or OnSend is delivered. In
//   TLS mode Send and Receive move application data; Receive gives 0 once the peer has sent
//   its close_notify, and a connection that ends without one fails with WSAECONNABORTED.
//
// Failing operations return false or SOCKET_ERROR and leave the Windows Sockets number in
// GetLastError() (per thread, like WSAGetLastError).
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/name_lookup.h"
#include "platform/socket_errors.h"
#include "platform/tls_context.h"

struct ssl_st;

namespace tarnwick::platform {

namespace detail {
class SocketRegistry;
}

class AsyncSocket {
public:
    enum ShutdownHow { receives = 0, sends = 1, both = 2 };

    AsyncSocket() = default;
    virtual ~AsyncSocket();
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    // Opens an unbound socket (AF_INET or AF_INET6; SOCK_STREAM) and registers it with the
    // calling thread. Use it instead of Create to set options (SetReuseAddress) before Bind.
    bool Socket(int type = SOCK_STREAM, int family = AF_INET);
    // Binds to `port` (0: any) on the numeric `address` (empty: every local address).
    bool Bind(int port, const std::string& address = "");
    // Socket and Bind in one.
    bool Create(int port = 0, int type = SOCK_STREAM, int family = AF_INET,
                const std::string& address = "");

    // Starts connecting to `host` (a numeric address of the socket's family, or a name that
    // is looked up on a helper thread) and `port`. Never completes at once: false with
    // WSAEWOULDBLOCK means OnConnect will follow; false with any other number means the
    // connect failed at once and no OnConnect follows. A name is looked up for every family
    // (only the socket's own when it was bound to a given address or port) and its addresses
    // are tried in turn until one connects; the socket takes the family of the address it
    // tries (Family() tells which). OnConnect then reports the last failure.
    bool Connect(const std::string& host, int port);

    bool Listen(int backlog = 5);
    // Accepts a waiting connection into `into`, which must be closed; `into` then belongs to
    // the calling thread and gets an OnSend at once. False with WSAEWOULDBLOCK when no
    // connection is waiting.
    bool Accept(AsyncSocket& into);

    // Byte count accepted/received (Receive: 0 when the peer has closed), or SOCKET_ERROR.
    // On a socket that is not connected both fail with WSAENOTCONN.
    int Send(const void* data, size_t length);
    int Receive(void* buffer, size_t length);

    bool ShutDown(int how = sends);
    // Closes the descriptor and forgets pending notifications and a running lookup. Safe to
    // call on a closed socket and from the socket's own handlers.
    void Close();

    // Numeric address text ("127.0.0.1", "::1") and port of this end / the peer.
    bool GetSockName(std::string& address, int& port) const;
    bool GetPeerName(std::string& address, int& port) const;

    bool SetSockOpt(int level, int name, const void* value, socklen_t length);
    bool SetReuseAddress(bool on);  // SO_REUSEADDR; before Bind
    bool SetNoDelay(bool on);       // TCP_NODELAY
    bool SetSendBufferSize(int bytes);
    bool SetReceiveBufferSize(int bytes);

    // ---- TLS, client side (tls_socket.cpp) ----
    // Starts a TLS handshake on a connected socket; OnTlsHandshake follows. `host` (a name,
    // or a numeric address) is what the certificate must name; `resume`, when set, is the
    // session of another connection to resume.
    bool StartTls(const std::shared_ptr<TlsContext>& context, const std::string& host,
                  const TlsSessionHandle& resume);
    bool IsTls() const { return ssl != nullptr; }
    // After a successful handshake: "TLSv1.3", the cipher's name, whether the session was
    // resumed, and why the certificate did not verify for the host ("" when it did).
    std::string TlsVersion() const;
    std::string TlsCipher() const;
    bool TlsResumed() const;
    std::string TlsVerifyError() const;
    TlsSessionHandle TlsSession() const;  // the session to resume elsewhere, or null
    // The server's certificate after a handshake; false when there is none.
    bool TlsPeerCertificate(TlsCertificateInfo& info) const;
    const std::string& TlsErrorText() const { return tlsError; }
    // Sends close_notify: 0 once it is out, else SOCKET_ERROR (WSAEWOULDBLOCK: OnSend comes
    // when there is room; try again then).
    int ShutdownTls();

    bool IsOpen() const { return fd >= 0; }
    int Handle() const { return fd; }
    int Family() const { return family; }  // AF_INET or AF_INET6 while open

    // The Windows Sockets number of the calling thread's last failed socket operation.
    static int GetLastError();

protected:
    // Notification handlers; the base versions do nothing. See the top of this file.
    virtual void OnReceive(int error);
    virtual void OnSend(int error);
    virtual void OnConnect(int error);
    virtual void OnClose(int error);
    virtual void OnAccept(int error);
    virtual void OnTlsHandshake(int error);

private:
    friend class detail::SocketRegistry;

    enum class State { kClosed, kOpen, kResolving, kConnecting, kConnected, kListening, kFailed };
    // The kinds of readiness the dispatcher turns into notifications, in delivery order.
    enum class Step { kLookup, kConnect, kAccept, kWrite, kRead };
    enum class TlsState { kNone, kHandshaking, kEstablished, kFailed };
    struct SslFree {
        void operator()(ssl_st* handle) const;
    };

    bool Register(int descriptor, int socketFamily, State initialState);
    int Unregister();  // returns the descriptor, still open
    bool StartConnect(const SocketAddress& address);
    // Tries the remaining addresses of a lookup; OnConnect(error) when none is left.
    void ConnectNextCandidate(int error);
    // A fresh descriptor of `newFamily` in place of the current one (same registration).
    bool Reopen(int newFamily);
    void EnterConnected();
    static bool Fail(int error);  // records the calling thread's error, returns false

    // Dispatcher side (see socket_registry.h).
    pollfd PollRequest() const;
    // Delivers at most one notification; false when the later steps of this poll result no
    // longer apply. The socket may be destroyed when this returns.
    bool RunStep(Step step, short revents);
    bool FinishLookup();
    void FinishConnect();
    void ReadOrClose();
    // TLS (tls_socket.cpp).
    void ContinueHandshake();  // one handshake step; OnTlsHandshake when it has ended
    int TlsSend(const void* data, size_t length);
    // Before a TLS read or write: true once the handshake is done (the error queue cleared),
    // else the call fails as a plain socket's would (would block, or aborted).
    bool TlsReadyForData();
    int TlsReceive(void* buffer, size_t length);
    int FailTls(int sslError, int result);  // maps an SSL_get_error value; returns `result`
    bool HasBufferedInput() const;          // decrypted bytes wait in the TLS layer

    int fd = -1;
    int family = 0;
    State state = State::kClosed;
    bool readEnabled = false;    // OnReceive may be delivered
    bool writeWanted = false;    // OnSend is due when the socket becomes writable
    bool acceptEnabled = false;  // OnAccept may be delivered
    bool closeDelivered = false;
    std::shared_ptr<detail::SocketRegistry> registry;  // of the owning thread while open
    uint64_t registryId = 0;
    std::shared_ptr<NameLookup> lookup;     // while resolving
    bool familyFixed = false;               // bound to an address or port: the family stays
    std::vector<SocketAddress> candidates;  // of a lookup, to try in turn
    size_t nextCandidate = 0;
    std::unique_ptr<ssl_st, SslFree> ssl;  // in TLS mode
    std::shared_ptr<TlsContext> tlsContext;
    TlsState tlsState = TlsState::kNone;
    bool tlsWantsWrite = false;  // the handshake waits for room rather than for data
    std::string tlsError;
};

}  // namespace tarnwick::platform
