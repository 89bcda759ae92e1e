// TlsContext: the client-side TLS settings the sockets of a session share: TLS 1.2 at least,
// certificates checked against the system's trust store.
//
// Threads: made on any thread; read-only afterwards, so sockets of several threads may use
// it at once. Shared ownership: each socket in TLS mode keeps the context alive.
#pragma once

#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_session_st;

namespace tarnwick::platform {

// A TLS session of one connection, to be resumed by another (FTP data connections resume
// the control connection's session). Null when there is none.
using TlsSessionHandle = std::shared_ptr<ssl_session_st>;

class TlsContext {
public:
    // Null, with the reason in `error`, when OpenSSL cannot set one up.
    static std::shared_ptr<TlsContext> Create(std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* Handle() const { return context; }

private:
    explicit TlsContext(ssl_ctx_st* handle) : context(handle) {}
    ssl_ctx_st* context;
};

// The text of the calling thread's oldest queued OpenSSL error (and clears the queue), or
// `fallback` when there is none.
std::string TakeTlsErrorText(const std::string& fallback);

}  // namespace tarnwick::platform
