// Data connections: receiving a listing or a download, sending an upload, and accepting the
// server's connection in active mode.
#include "ftp/data_socket.h"

#include <cerrno>
#include <cstring>

#include "session/ftp_session.h"

namespace tarnwick {

namespace {

// Receives per notification before the wait looks at its handles again: big enough that a
// fast transfer rarely goes back to poll(), small enough that Stop is seen promptly.
constexpr int kReceivesPerNotification = 16;

// How often an upload that never has to wait for the socket still looks at the session's
// events (Stop, a closed control connection).
constexpr auto kUploadCheckInterval = std::chrono::milliseconds(200);
constexpr auto kRearmInterval = std::chrono::milliseconds(200);

}  // namespace

CDataSocket::CDataSocket(CFtpSession& owner) : session(owner), buffer(kDataChunkSize) {}

CDataSocket::~CDataSocket() {
    CloseFile();
}

void CDataSocket::ArmReceive(std::FILE* target, bool intoMemory, const std::string& localPath) {
    CloseFile();
    file = target;
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);  // big writes go straight out
    toMemory = intoMemory;
    fileName = localPath;
    held.clear();
    writeFailed = false;
    lastError = 0;
    receiving = true;
    receiveFinished.Reset();
}

bool CDataSocket::AttachFile(std::FILE* target) {
    CloseFile();
    file = target;
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::string bytes = std::move(held);
    held.clear();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        session.Log("Unable to write local file " + fileName + ": " + std::strerror(errno),
                    LOG_ERROR);
        writeFailed = true;
        FinishTransfer(false);
        return false;
    }
    if (!receiving) CloseFile();  // everything arrived before the answer to RETR
    return true;
}

void CDataSocket::ArmSend(std::FILE* source, const std::string& localPath) {
    CloseFile();
    file = source;
    if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
    toMemory = false;
    fileName = localPath;
    writeFailed = false;
    lastError = 0;
    result = 0;
    uploading = true;
    released = false;
    sendFinished.Reset();
}

void CDataSocket::ReleaseUpload() {
    released = true;
    if (IsConnected()) SendFile();
}

void CDataSocket::Accepted() {
    // A server that connects in active mode may do so as soon as it gets PORT, and then
    // closes a connection that sends anything (the client's hello) before the transfer
    // command: the handshake waits for the answer to that command.
    connected = false;
    handshakeHeld = session.controlSocket.IsTls() && !transferAnswered;
    if (handshakeHeld) return;
    if (StartSecuring()) return;
    ConnectionUp();
}

void CDataSocket::TransferAnswered() {
    transferAnswered = true;
    if (!handshakeHeld) return;
    handshakeHeld = false;
    if (IsOpen() && !StartSecuring()) ConnectionUp();
}

void CDataSocket::NewConnection() {
    Close();
    connected = false;
    transferAnswered = false;
    handshakeHeld = false;
}

void CDataSocket::ConnectionUp() {
    connected = true;
    SendFile();  // does nothing unless a released upload waits for its connection
}

bool CDataSocket::StartSecuring() {
    CControlSocket& control = session.controlSocket;
    if (!control.IsTls()) return false;
    if (!StartTls(session.tlsContext, session.hostAddress, control.TlsSession())) {
        session.Log("TLS handshake failed: " + TlsErrorText(), LOG_ERROR);
        OnTlsHandshake(platform::WSAECONNABORTED);
    }
    return true;
}

void CDataSocket::OnTlsHandshake(int error) {
    // The control connection's certificate, however it was accepted, is accepted here; a
    // different one only where no pin asks for another and it verifies (or the site accepts
    // unverified ones).
    platform::TlsCertificateInfo certificate;
    if (error == 0 && (!TlsPeerCertificate(certificate) ||
                       certificate.fingerprint != session.tlsAcceptedFingerprint)) {
        std::string untrusted = TlsVerifyError();
        if (!session.tlsPinnedFingerprint.empty()) {
            untrusted = "fingerprint mismatch";
        } else if (session.tlsAcceptUnverified) {
            untrusted.clear();
        }
        if (!untrusted.empty()) {
            session.Log("certificate of " + session.hostAddress + " not trusted: " + untrusted,
                        LOG_ERROR);
            error = platform::WSAECONNABORTED;
        }
    }
    if (error != 0) {
        OnConnect(error);  // ends the armed transfer as a failed connection does
        return;
    }
    session.Log(std::string("Data connection secured (") + TlsVersion() +
                    (TlsResumed() ? ", session resumed)." : ", new session)."),
                LOG_STATE);
    ConnectionUp();
}

bool CDataSocket::IsConnected() const {
    return IsOpen() && connected;
}

void CDataSocket::EndReceive() {
    receiving = false;
    receiveFinished.Set();
}

void CDataSocket::EndSend() {
    uploading = false;
    released = false;
    sendFinished.Set();
    chunkSent.Set();  // an upload waiting for its chunk must see the end at once
}

void CDataSocket::SendFile() {
    if (sending || !uploading || !released) return;
    sending = true;
    int outcome = SendChunks();
    if (outcome == 0 && IsTls()) outcome = SendCloseNotify();
    chunkLength = 0;
    chunkOffset = 0;
    CloseFile();
    Close();
    result = outcome;
    if (outcome == 0) {
        session.Log("File " + session.currentFile + " sent successfully.", LOG_STATE);
    } else {
        session.Log("Failed to send file " + session.currentFile + ".", LOG_ERROR);
    }
    sending = false;
    EndSend();
}

int CDataSocket::SendChunks() {
    auto lastCheck = std::chrono::steady_clock::now();
    for (;;) {
        if (file == nullptr) return result != 0 ? result : 1;  // ended meanwhile (55x, close)
        size_t count = std::fread(buffer.data(), 1, buffer.size(), file);
        if (count == 0) {
            if (!std::ferror(file)) return 0;
            session.Log("Unable to read local file " + fileName + ": " + std::strerror(errno),
                        LOG_ERROR);
            return 1;
        }
        chunkLength = count;
        chunkOffset = 0;
        if (!SendPendingChunk()) return 1;
        const bool pending = chunkOffset < chunkLength;
        const auto now = std::chrono::steady_clock::now();
        if (!pending && now - lastCheck < kUploadCheckInterval) continue;
        // Wait for room in the socket, or only look at Stop and the control connection.
        if (pending) {
            chunkSent.Reset();
        } else {
            chunkSent.Set();
        }
        // Each wait has its own deadline (the session's default), which makes it an
        // inactivity deadline, without arming the timer for every chunk.
        int waited = session.WaitForSession(&chunkSent, 0);
        lastCheck = std::chrono::steady_clock::now();
        if (waited != kResultOk) {
            FinishTransfer(true);
            return waited;
        }
        if (lastError != 0) return 1;
    }
}

int CDataSocket::SendCloseNotify() {
    for (;;) {
        if (ShutdownTls() == 0) return AwaitPeerClose();
        const int error = GetLastError();
        if (error != platform::WSAEWOULDBLOCK) {
            ReportError(error, true);
            return 1;
        }
        closingTls = true;
        chunkSent.Reset();
        const int waited = session.WaitForSession(&chunkSent, 0);
        closingTls = false;
        if (waited != kResultOk) {
            FinishTransfer(true);
            return waited;
        }
        if (lastError != 0 || !IsOpen()) return 1;
    }
}

// Closing at once could reset the connection (the server's late TLS records are unread) and
// make the server drop the last bytes it had not read yet: the end goes out first, and the
// connection is closed once the server has closed its side.
int CDataSocket::AwaitPeerClose() {
    ShutDown(sends);
    awaitingPeerClose = true;
    chunkSent.Reset();
    DiscardUntilClosed();
    const int waited = chunkSent.TryWait() ? kResultOk : session.WaitForSession(&chunkSent, 0);
    awaitingPeerClose = false;
    if (waited != kResultOk) FinishTransfer(true);
    return waited;
}

void CDataSocket::DiscardUntilClosed() {
    for (;;) {
        const int received = Receive(buffer.data(), buffer.size());
        if (received > 0) continue;
        if (received == 0 || GetLastError() != platform::WSAEWOULDBLOCK) chunkSent.Set();
        return;
    }
}

bool CDataSocket::SendPendingChunk() {
    RearmDeadline();
    while (chunkOffset < chunkLength) {
        int sent = Send(buffer.data() + chunkOffset, chunkLength - chunkOffset);
        if (sent == platform::SOCKET_ERROR) {
            int error = GetLastError();
            if (error == platform::WSAEWOULDBLOCK) return true;  // OnSend continues
            ReportError(error, true);
            return false;
        }
        chunkOffset += static_cast<size_t>(sent);
        session.bytesDone.fetch_add(static_cast<uint64_t>(sent), std::memory_order_relaxed);
        session.AddProgress(static_cast<uint64_t>(sent));
    }
    return true;
}

void CDataSocket::OnSend(int error) {
    if (error != 0) {
        ReportError(error, true);
        return;
    }
    if (closingTls) {
        chunkSent.Set();
        return;
    }
    if (chunkOffset >= chunkLength) return;
    if (SendPendingChunk() && chunkOffset >= chunkLength) chunkSent.Set();
}

void CDataSocket::ConnectTo(const std::string& host, int port) {
    connected = false;
    if (Connect(host, port)) return;
    int error = GetLastError();
    if (error != platform::WSAEWOULDBLOCK) OnConnect(error);
}

void CDataSocket::OnConnect(int error) {
    if (error != 0) {
        // Without this the transfer would only end at its inactivity deadline.
        if (uploading && !sending) {
            ReportError(error, true);
            session.Log("Failed to send file " + session.currentFile + ".", LOG_ERROR);
        } else if (receiving) {
            ReportError(error, false);
        } else {
            Close();
        }
        return;
    }
    if (StartSecuring()) return;
    ConnectionUp();
}

void CDataSocket::OnReceive(int error) {
    if (awaitingPeerClose) {
        DiscardUntilClosed();
        return;
    }
    if (error != 0) {
        ReportError(error, uploading);
        return;
    }
    for (int i = 0; i < kReceivesPerNotification; ++i) {
        const int received = ReceiveChunk(0);
        if (received == 0) {
            // The end of the stream (a TLS close_notify comes as data, before the close).
            OnClose(0);
            return;
        }
        if (received < 0) break;
    }
}

int CDataSocket::ReceiveChunk(int error) {
    if (error != 0) {
        ReportError(error, uploading);
        return -1;
    }
    RearmDeadline();
    int received = Receive(buffer.data(), buffer.size());
    if (received == platform::SOCKET_ERROR) {
        int failure = GetLastError();
        if (failure != platform::WSAEWOULDBLOCK) ReportError(failure, uploading);
        return -1;
    }
    if (received == 0) return 0;
    if (!receiving) return received;  // no transfer in progress: the bytes are discarded
    session.bytesDone.fetch_add(static_cast<uint64_t>(received), std::memory_order_relaxed);
    session.AddProgress(static_cast<uint64_t>(received));
    if (!StoreReceived(buffer.data(), static_cast<size_t>(received))) return -1;
    return received;
}

bool CDataSocket::StoreReceived(const char* bytes, size_t count) {
    if (toMemory) {
        if (session.listingText.size() + count > kMaxListingBytes) {
            session.Log(
                "Listing too long (more than " + std::to_string(kMaxListingBytes) + " bytes).",
                LOG_ERROR);
            writeFailed = true;
            FinishTransfer(false);
            return false;
        }
        session.listingText.append(bytes, count);
        return true;
    }
    if (file == nullptr) {  // the server has not answered RETR yet
        if (held.size() + count <= kMaxHeldBytes) {
            held.append(bytes, count);
            return true;
        }
        session.Log("Too much data before the server answered.", LOG_ERROR);
        writeFailed = true;
        FinishTransfer(false);
        return false;
    }
    if (std::fwrite(bytes, 1, count, file) == count) return true;
    session.Log("Unable to write local file " + fileName + ": " + std::strerror(errno), LOG_ERROR);
    writeFailed = true;
    FinishTransfer(false);
    return false;
}

int CDataSocket::DrainReceive() {
    for (;;) {
        int received = ReceiveChunk(0);
        if (received <= 0) return received;
    }
}

void CDataSocket::OnClose(int error) {
    if (awaitingPeerClose) {
        chunkSent.Set();
        return;
    }
    if (DrainReceive() == -1) return;  // ended by an error (reported), or nothing to read
    if (error != 0) session.Log(SocketErrorText(error), LOG_ERROR);
    session.Log("Data connection closed.", LOG_STATE);
    if (receiving && !toMemory) CloseFile();
    lastError = error;
    // The server closing the data connection of an unfinished upload ends it as failed.
    if (uploading) FinishTransfer(true);
    EndReceive();
    Close();
}

void CDataSocket::FinishTransfer(bool upload) {
    CloseFile();
    Close();
    if (upload) {
        result = 1;
        EndSend();
    } else {
        EndReceive();
    }
}

void CDataSocket::ReportError(int error, bool upload) {
    if (error == 0) return;
    session.Log(SocketErrorText(error), LOG_ERROR);
    if (IsTls() && !TlsErrorText().empty()) session.Log("TLS: " + TlsErrorText(), LOG_ERROR);
    FinishTransfer(upload);
    lastError = error;
}

bool CDataSocket::CloseFile() {
    if (file == nullptr || toMemory) return false;
    // Data still buffered, or a delayed write error, shows up here: a file that cannot be
    // completed is a failed download, not a success.
    if (std::fclose(file) != 0 && !writeFailed) {
        session.Log("Unable to write local file " + fileName + ": " + std::strerror(errno),
                    LOG_ERROR);
        writeFailed = true;
    }
    file = nullptr;
    return true;
}

void CDataSocket::RearmDeadline() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastArmed < kRearmInterval) return;
    lastArmed = now;
    session.ArmTimer(0);
}

CListenSocket::CListenSocket(CFtpSession& owner) : session(owner) {}

bool CListenSocket::Open() {
    Close();
    int family = session.controlSocket.IsOpen() ? session.controlSocket.Family() : AF_INET;
    if (!Create(0, SOCK_STREAM, family) || !Listen(5)) {
        Close();
        return false;
    }
    std::string address;
    int port = 0;
    if (GetSockName(address, port)) session.listenPort = port;
    return true;
}

void CListenSocket::OnAccept(int error) {
    if (error != 0) return;
    CDataSocket& data = session.dataSocket;
    data.Close();
    if (!Accept(data)) {
        session.Log(SocketErrorText(GetLastError()), LOG_ERROR);
        return;
    }
    // Every data connection is offered on a fresh port; the next PORT announces it.
    Open();
    data.Accepted();
}

}  // namespace tarnwick
