// TlsContext: the client-side TLS settings the sockets of a session share: TLS 1.2 at least,
// certificates checked against the system's trust store and the extra anchors of a site.
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
    // Null, with the reason in `error`, when OpenSSL cannot set one up. `caFile`, when not
    // empty, is a PEM file whose certificates are trusted besides the system's; one that
    // cannot be read fails the creation.
    static std::shared_ptr<TlsContext> Create(std::string& error, const std::string& caFile = {});
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* Handle() const { return context; }

private:
    explicit TlsContext(ssl_ctx_st* handle) : context(handle) {}
    ssl_ctx_st* context;
};

// What a server's certificate says, as it is shown and compared: subject and issuer on one
// line ("CN=example.org, O=Example"), the validity in UTC ("2026-12-07 11:53:00 UTC"), and
// the SHA-256 fingerprint of its DER form as upper-case hex pairs joined by ':'.
struct TlsCertificateInfo {
    std::string subject;
    std::string issuer;
    std::string validFrom;
    std::string validUntil;
    std::string fingerprint;
};

// The text of the calling thread's oldest queued OpenSSL error (and clears the queue), or
// `fallback` when there is none.
std::string TakeTlsErrorText(const std::string& fallback);

}  // namespace tarnwick::platform
