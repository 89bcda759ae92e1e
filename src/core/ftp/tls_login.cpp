// TLS on the control connection: AUTH TLS after the welcome (or TLS from the first byte),
// the handshake, the certificate check, and PBSZ/PROT so that data connections are TLS too.
#include "ftp/control_socket.h"
#include "session/ftp_session.h"

namespace tarnwick {

int CControlSocket::SecureAfterWelcome() {
    // The arguments as RFC 4217 writes them: some servers (ProFTPD) take "prot p" as an
    // unknown protection level.
    int result = SendCommand("auth TLS", true);
    if (result != kResultOk) return result;
    if (replyCodes[0] != "234") {
        if (session.tlsMode != kTlsIfAvailable) return RefuseTls("The server refused AUTH TLS.");
        session.Log("The server refused AUTH TLS: the login goes on in clear.", LOG_WARNING);
        return kResultOk;
    }
    result = NegotiateTls();
    if (result != kResultOk) return result;
    return ProtectData();
}

int CControlSocket::NegotiateTls() {
    if (!session.tlsContext) {
        std::string error;
        session.tlsContext = platform::TlsContext::Create(error, session.tlsCaFile);
        // Nothing goes on in clear, and a retry would meet the same local problem.
        if (!session.tlsContext) return RefuseTls("TLS unavailable: " + error);
    }
    tlsHandshakeError = 0;
    if (!StartTls(session.tlsContext, session.hostAddress, nullptr)) {
        session.Log("TLS handshake failed: " + TlsErrorText(), LOG_ERROR);
        return kResultFailed;
    }
    int result = session.WaitWithTimer(tlsDone, 0);
    if (result != kResultOk) return result;
    if (tlsHandshakeError != 0) {
        session.Log("TLS handshake failed: " + TlsErrorText(), LOG_ERROR);
        CloseLocally();
        ReportLocalClose();
        return kResultFailed;
    }
    result = DecideOnCertificate();
    if (result != kResultOk) return result;
    session.Log("TLS connection established: " + TlsVersion() + ", " + TlsCipher(), LOG_STATE);
    return kResultOk;
}

// In this order: a pin decides alone; a certificate that verifies is accepted; then the one
// remembered for the host and port (a different one is refused without asking: the server's
// certificate changed); then the site's "accept unverified"; last the user decides.
int CControlSocket::DecideOnCertificate() {
    const std::string& host = session.hostAddress;
    platform::TlsCertificateInfo certificate;
    if (!TlsPeerCertificate(certificate)) {
        return RefuseTls("certificate of " + host + " not trusted: no certificate presented");
    }
    session.Log("Certificate of " + host + ": " + certificate.subject + ", issued by " +
                    certificate.issuer + ", valid from " + certificate.validFrom + " until " +
                    certificate.validUntil + ", SHA-256 " + certificate.fingerprint,
                LOG_STATE);
    const std::string& offered = certificate.fingerprint;
    session.tlsAcceptedFingerprint.clear();
    if (!session.tlsPinnedFingerprint.empty()) {
        if (offered != session.tlsPinnedFingerprint) {
            return RefuseTls("certificate of " + host + " not trusted: fingerprint mismatch");
        }
        session.Log("The certificate of " + host + " has the pinned fingerprint.", LOG_STATE);
        session.tlsAcceptedFingerprint = offered;
        return kResultOk;
    }
    const std::string untrusted = TlsVerifyError();
    if (untrusted.empty()) {
        session.tlsAcceptedFingerprint = offered;
        return kResultOk;
    }
    if (!session.trustStore) {
        session.trustStore = TrustStore::OfProgramHome(TrustStore::Access::kReadWrite);
    }
    const std::string remembered = session.trustStore->Find(host, session.port);
    if (remembered == offered) {
        session.Log("The certificate of " + host + " is one the user trusted before.", LOG_STATE);
        session.tlsAcceptedFingerprint = offered;
        return kResultOk;
    }
    if (!remembered.empty()) {
        return RefuseTls("certificate of " + host + " has changed: remembered " + remembered +
                         ", offered " + offered);
    }
    if (session.tlsAcceptUnverified) {
        session.Log(
            "Accepting the certificate of " + host + " although it is not trusted: " + untrusted,
            LOG_WARNING);
        session.tlsAcceptedFingerprint = offered;
        return kResultOk;
    }
    CertificateQuestion question{host,
                                 session.port,
                                 certificate.subject,
                                 certificate.issuer,
                                 certificate.validFrom,
                                 certificate.validUntil,
                                 offered,
                                 untrusted};
    if (!session.AskCertificate(question)) {
        return RefuseTls("certificate of " + host + " not trusted: " + untrusted);
    }
    std::string error;
    if (!session.trustStore->Remember(host, session.port, offered, error)) {
        session.Log("The certificate is trusted for this connection only: " + error, LOG_WARNING);
    }
    session.tlsAcceptedFingerprint = offered;
    return kResultOk;
}

int CControlSocket::ProtectData() {
    int result = SendCommand("pbsz 0", true);
    if (result != kResultOk) return result;
    if (!replyCodes[0].starts_with('2')) return RefuseTls("The server refused PBSZ 0.");
    result = SendCommand("prot P", true);
    if (result != kResultOk) return result;
    if (!replyCodes[0].starts_with('2')) return RefuseTls("The server refused PROT P.");
    return kResultOk;
}

int CControlSocket::RefuseTls(const std::string& why) {
    session.Log(why, LOG_ERROR);
    // Nothing more goes out, not even QUIT: the login would otherwise follow in clear.
    Close();
    session.loggedIn = false;
    return kResultRefused;
}

void CControlSocket::OnTlsHandshake(int error) {
    tlsHandshakeError = error;
    tlsDone.Set();
}

}  // namespace tarnwick
