#include "platform/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace tarnwick::platform {

std::shared_ptr<TlsContext> TlsContext::Create(std::string& error, const std::string& caFile) {
    SSL_CTX* handle = SSL_CTX_new(TLS_client_method());
    if (handle == nullptr) {
        error = TakeTlsErrorText("cannot create a TLS context");
        return nullptr;
    }
    std::shared_ptr<TlsContext> context(new TlsContext(handle));
    if (SSL_CTX_set_min_proto_version(handle, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(handle) != 1) {
        error = TakeTlsErrorText("cannot load the system's trusted certificates");
        return nullptr;
    }
    if (!caFile.empty() && SSL_CTX_load_verify_locations(handle, caFile.c_str(), nullptr) != 1) {
        error = "cannot read the trusted certificates of " + caFile + ": " +
                TakeTlsErrorText("no certificate in it");
        return nullptr;
    }
    // The chain is checked during the handshake, but the verdict is the caller's (it may
    // accept an unverified certificate): the handshake goes on, the result is read after it.
    SSL_CTX_set_verify(handle, SSL_VERIFY_NONE, nullptr);
    // Senders retry a partial write with the rest of their buffer, wherever it then lives.
    SSL_CTX_set_mode(handle, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(context);
}

std::string TakeTlsErrorText(const std::string& fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return fallback;
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) return reason;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace tarnwick::platform
