// TLS on the control connection: AUTH TLS after the welcome (or TLS from the first byte),
// the handshake, the certificate check, and PBSZ/PROT so that data connections are TLS too.
#include "ftp/control_socket.h"
#include "session/ftp_session.h"

namespace tarnwick {

int CControlSocket::SecureAfterWelcome() {
    int result = SendCommand("auth tls", true);
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
        session.tlsContext = platform::TlsContext::Create(error);
        if (!session.tlsContext) {
            session.Log("TLS unavailable: " + error, LOG_ERROR);
            return kResultFailed;
        }
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
    const std::string untrusted = TlsVerifyError();
    if (!untrusted.empty()) {
        if (!session.tlsAcceptUnverified) {
            return RefuseTls("certificate of " + session.hostAddress +
                             " not trusted: " + untrusted);
        }
        session.Log("Accepting the certificate of " + session.hostAddress +
                        " although it is not trusted: " + untrusted,
                    LOG_WARNING);
    }
    session.Log("TLS connection established: " + TlsVersion() + ", " + TlsCipher(), LOG_STATE);
    return kResultOk;
}

int CControlSocket::ProtectData() {
    int result = SendCommand("pbsz 0", true);
    if (result != kResultOk) return result;
    if (!replyCodes[0].starts_with('2')) return RefuseTls("The server refused PBSZ 0.");
    result = SendCommand("prot p", true);
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
