// The TLS side of AsyncSocket: an OpenSSL connection over the socket's own non-blocking
// descriptor. The handshake is driven by the dispatcher (one step per readiness), so the
// owner waits for OnTlsHandshake the way it waits for OnConnect.
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/async_socket.h"

namespace tarnwick::platform {

namespace {

bool IsNumericAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The certificate must name `host`: its DNS name, or for an address its IP entry.
bool SetExpectedPeer(SSL* ssl, const std::string& host) {
    if (IsNumericAddress(host)) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    }
    return SSL_set1_host(ssl, host.c_str()) == 1 &&
           SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
}

// One line, the most specific part first: "CN=example.org, O=Example".
std::string NameText(const X509_NAME* name) {
    constexpr unsigned long kFlags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_DN_REV | XN_FLAG_FN_SN |
                                     (ASN1_STRFLGS_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    BIO* out = BIO_new(BIO_s_mem());
    if (out == nullptr) return "";
    std::string text;
    if (X509_NAME_print_ex(out, name, 0, kFlags) >= 0) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(out, &data);
        if (length > 0) text.assign(data, static_cast<size_t>(length));
    }
    BIO_free(out);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return "";
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return std::string(text, length);
}

std::string FingerprintText(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0xF];
    }
    return text;
}

}  // namespace

void AsyncSocket::SslFree::operator()(ssl_st* handle) const {
    SSL_free(handle);
}

bool AsyncSocket::StartTls(const std::shared_ptr<TlsContext>& context, const std::string& host,
                           const TlsSessionHandle& resume) {
    if (state != State::kConnected || ssl || !context) return Fail(WSAEINVAL);
    ERR_clear_error();
    std::unique_ptr<ssl_st, SslFree> handle(SSL_new(context->Handle()));
    if (!handle || SSL_set_fd(handle.get(), fd) != 1 || !SetExpectedPeer(handle.get(), host) ||
        (resume && SSL_set_session(handle.get(), resume.get()) != 1)) {
        tlsError = TakeTlsErrorText("cannot set up the TLS connection");
        return Fail(WSAENOBUFS);
    }
    ssl = std::move(handle);
    tlsContext = context;
    tlsError.clear();
    tlsState = TlsState::kHandshaking;
    tlsWantsWrite = true;  // the first step (the client's hello) runs from the dispatcher
    return true;
}

void AsyncSocket::ContinueHandshake() {
    ERR_clear_error();
    errno = 0;
    const int done = SSL_connect(ssl.get());
    if (done == 1) {
        tlsState = TlsState::kEstablished;
        readEnabled = true;
        writeWanted = false;
        OnTlsHandshake(0);
        return;
    }
    const int error = SSL_get_error(ssl.get(), done);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        tlsWantsWrite = error == SSL_ERROR_WANT_WRITE;
        return;
    }
    FailTls(error, 0);
    tlsState = TlsState::kFailed;
    OnTlsHandshake(WSAECONNABORTED);
}

int AsyncSocket::FailTls(int sslError, int result) {
    switch (sslError) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            Fail(WSAEWOULDBLOCK);
            break;
        case SSL_ERROR_SYSCALL:
            if (errno != 0 && ERR_peek_error() == 0) {
                tlsError = std::strerror(errno);
                Fail(SocketErrorFromErrno(errno));
                break;
            }
            [[fallthrough]];
        default:
            // Includes a connection that ended without close_notify: the stream was cut.
            tlsError = TakeTlsErrorText("the connection ended without a TLS close_notify");
            Fail(WSAECONNABORTED);
            break;
    }
    return result;
}

bool AsyncSocket::TlsReadyForData() {
    if (tlsState != TlsState::kEstablished) {
        Fail(tlsState == TlsState::kFailed ? WSAECONNABORTED : WSAEWOULDBLOCK);
        return false;
    }
    ERR_clear_error();
    errno = 0;
    return true;
}

int AsyncSocket::TlsSend(const void* data, size_t length) {
    if (!TlsReadyForData()) return SOCKET_ERROR;
    const int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    const int sent = SSL_write(ssl.get(), data, count);
    if (sent > 0) return sent;
    const int error = SSL_get_error(ssl.get(), sent);
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) writeWanted = true;
    return FailTls(error, SOCKET_ERROR);
}

int AsyncSocket::TlsReceive(void* buffer, size_t length) {
    if (!TlsReadyForData()) return SOCKET_ERROR;
    const int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
    const int received = SSL_read(ssl.get(), buffer, count);
    if (received > 0) return received;
    const int error = SSL_get_error(ssl.get(), received);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;  // the peer's close_notify
    return FailTls(error, SOCKET_ERROR);
}

int AsyncSocket::ShutdownTls() {
    if (!ssl || tlsState != TlsState::kEstablished) {
        Fail(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    ERR_clear_error();
    errno = 0;
    const int done = SSL_shutdown(ssl.get());
    if (done >= 0) return 0;  // sent; the peer's own close_notify is not awaited
    const int error = SSL_get_error(ssl.get(), done);
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) writeWanted = true;
    return FailTls(error, SOCKET_ERROR);
}

bool AsyncSocket::HasBufferedInput() const {
    return ssl && tlsState == TlsState::kEstablished && readEnabled && !closeDelivered &&
           SSL_pending(ssl.get()) > 0;
}

std::string AsyncSocket::TlsVersion() const {
    return ssl ? SSL_get_version(ssl.get()) : "";
}

std::string AsyncSocket::TlsCipher() const {
    return ssl ? SSL_get_cipher_name(ssl.get()) : "";
}

bool AsyncSocket::TlsResumed() const {
    return ssl && SSL_session_reused(ssl.get()) == 1;
}

std::string AsyncSocket::TlsVerifyError() const {
    if (!ssl) return "no TLS connection";
    if (SSL_get0_peer_certificate(ssl.get()) == nullptr) return "no certificate presented";
    const long result = SSL_get_verify_result(ssl.get());
    return result == X509_V_OK ? "" : X509_verify_cert_error_string(result);
}

bool AsyncSocket::TlsPeerCertificate(TlsCertificateInfo& info) const {
    const X509* certificate = ssl ? SSL_get0_peer_certificate(ssl.get()) : nullptr;
    if (certificate == nullptr) return false;
    info.subject = NameText(X509_get_subject_name(certificate));
    info.issuer = NameText(X509_get_issuer_name(certificate));
    info.validFrom = TimeText(X509_get0_notBefore(certificate));
    info.validUntil = TimeText(X509_get0_notAfter(certificate));
    info.fingerprint = FingerprintText(certificate);
    return !info.fingerprint.empty();
}

TlsSessionHandle AsyncSocket::TlsSession() const {
    if (!ssl) return nullptr;
    SSL_SESSION* session = SSL_get1_session(ssl.get());
    if (session == nullptr) return nullptr;
    return TlsSessionHandle(session, SSL_SESSION_free);
}

}  // namespace tarnwick::platform
