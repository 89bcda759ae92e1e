// The control connection: sending one command, assembling and classifying its reply, and the
// socket notifications that release the waiting operation.
#include "ftp/control_socket.h"

#include "listing/text_utils.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace {

constexpr size_t kReceiveChunk = 1024;  // one receive; a reply's log chunks follow it

}  // namespace

CControlSocket::CControlSocket(CFtpSession& owner) : session(owner) {
    overwriteChoice.fill(-1);
}

int CControlSocket::SendCommand(const std::string& line, bool waitReply) {
    if (HasLineBreak(line)) {
        // A CR or LF would end the line early and smuggle the rest in as another command.
        session.Log("Command refused: it contains a line break.", LOG_ERROR);
        return kResultFailed;
    }
    ResetReply();
    lastVerb = FirstWord(line);
    session.Log(CommandLogText(line), LOG_COMMAND);
    sendBuffer = line + "\r\n";
    sentLength = 0;
    OnSend(0);  // start sending at once; the rest goes out from later notifications
    int result = session.WaitForSession(&sendDone, 0);
    if (result != kResultOk) return result;
    if (lastError != 0) {
        ReportLocalClose();
        return kResultFailed;
    }
    if (!waitReply) return kResultOk;
    return WaitReplyDone();
}

void CControlSocket::ResetReply() {
    replyCount = 0;
    replyComplete = false;
    replyText.clear();
    replyStatus = 0;
    replyDone.Reset();
    replyStarted.Reset();
}

int CControlSocket::WaitReplyDone() {
    return WaitReplyEvent(replyDone);
}

int CControlSocket::WaitFirstReply() {
    return WaitReplyEvent(replyStarted);
}

int CControlSocket::WaitReplyEvent(platform::Event& event) {
    int result = session.WaitForSession(&event, 0);
    ReportLocalClose();
    if (result != kResultOk) return result;
    return (lastError != 0 || replyStatus == -1) ? kResultFailed : kResultOk;
}

int CControlSocket::ParseReply() {
    ReplyParse parse = ParseReplyText(replyText, lastVerb);
    if (parse.status != 0) return -1;
    replyCodes = std::move(parse.codes);
    replyCount = parse.count;
    replyComplete = parse.complete;
    if (replyComplete) ApplyFinalTransferReply();
    return 0;
}

void CControlSocket::ApplyFinalTransferReply() {
    if (replyCodes[0].starts_with("55") && session.CommandSettings().pActionFailed) {
        session.Observer().OnNotice(session, replyText);
    }
    // A single reply that completes RETR or STOR is a refusal (550, but also 425, 450...):
    // nothing will come over the data connection, so the worker waiting for it is released
    // now rather than at its deadline. A transfer pair leaves the data side alone: its last
    // bytes may still be on the way.
    if (replyCount != 1) return;
    if (lastVerb == "stor") {
        session.dataSocket.FinishTransfer(true);
    } else if (lastVerb == "retr") {
        session.dataSocket.FinishTransfer(false);
    }
}

void CControlSocket::SignalReplyDone() {
    replyDone.Set();
    replyStarted.Set();
    // A site-to-site target whose server refused the transfer interrupts the source's wait.
    CFtpSession* source = session.partnerB;
    if (session.siteToSiteActive && source != nullptr && source->siteToSiteActive &&
        !IsTransferPair()) {
        source->siteToSiteActive = false;
        source->stopEvent.Set();
    }
    session.siteToSiteActive = false;
}

bool CControlSocket::IsTransferPair() const {
    return tarnwick::IsTransferPair(replyCodes.data(), replyCount);
}

void CControlSocket::OnSend(int error) {
    if (sendBuffer.empty()) return;
    if (error == platform::WSAENETDOWN) {
        lastError = error;
        sendBuffer.clear();
        sendDone.Set();
        CloseLocally();
        return;
    }
    while (sentLength < sendBuffer.size()) {
        int sent = Send(sendBuffer.data() + sentLength, sendBuffer.size() - sentLength);
        if (sent == platform::SOCKET_ERROR) {
            int failure = GetLastError();
            if (failure == platform::WSAEWOULDBLOCK) return;  // OnSend comes again
            session.Log(SocketErrorText(failure), LOG_ERROR);
            lastError = failure;
            sendBuffer.clear();
            sendDone.Set();
            CloseLocally();
            return;
        }
        sentLength += static_cast<size_t>(sent);
    }
    // Cleared so that a later write notification cannot signal sendDone a second time.
    sendBuffer.clear();
    lastError = 0;
    sendDone.Set();
}

void CControlSocket::OnConnect(int error) {
    connectDone.Set();
    if (error != 0) {
        session.Log(SocketErrorText(error), LOG_ERROR);
    } else {
        session.Log("Socket connected, waiting for welcome message...", LOG_STATE);
    }
    lastError = error;
}

void CControlSocket::OnReceive(int /*error*/) {
    char buffer[kReceiveChunk];
    int received = Receive(buffer, sizeof buffer);
    if (received == platform::SOCKET_ERROR) {
        if (GetLastError() == platform::WSAEWOULDBLOCK) return;
        session.Log("Error occurred", LOG_ERROR);
        FailReply();
        return;
    }
    if (received == 0) {
        session.Log("Control Connection Closed.", LOG_STATE);
        FailReply();
        return;
    }
    std::string_view bytes(buffer, static_cast<size_t>(received));
    if (replyDone.TryWait()) {
        // Nobody waits for a reply: only log what came.
        session.Log("Unexpected response received.", LOG_STATE);
        session.Log(IndentContinuationLines(bytes), LOG_REPLY, false, true);
        return;
    }
    AddReplyChunk(bytes);
}

void CControlSocket::AddReplyChunk(std::string_view bytes) {
    if (replyText.size() + bytes.size() > kMaxReplyBytes) {
        // A reply that never ends would otherwise grow without limit. The connection cannot
        // be resynchronised with the server, so it is given up like a failed receive.
        session.Log("Reply too long (more than " + std::to_string(kMaxReplyBytes) +
                        " bytes), closing the control connection.",
                    LOG_ERROR);
        FailReply();
        return;
    }
    LogReplyChunk(bytes);
    replyText.append(bytes);
    if (replyText.back() != '\n') return;
    if (ParseReply() == -1) {
        replyStatus = -1;
        SignalReplyDone();
        return;
    }
    if (replyCount > 0 && replyCodes[0].starts_with('1')) session.dataSocket.TransferAnswered();
    if (replyComplete) {
        replyStatus = 0;
        SignalReplyDone();
    } else if (replyCount > 0) {
        replyStarted.Set();
    }
}

void CControlSocket::LogReplyChunk(std::string_view bytes) {
    // The first chunk of a reply carries the reply prefix; later ones continue its text, with
    // continuation lines indented under the first.
    if (replyText.empty()) {
        session.Log(IndentContinuationLines(bytes), LOG_REPLY, false, true);
        return;
    }
    std::string text = IndentContinuationLines(bytes);
    if (replyText.ends_with("\r\n")) text.insert(0, "\t\t");
    session.Log(text, LOG_REPLY, false, false);
}

void CControlSocket::FailReply() {
    CloseLocally();
    replyStatus = -1;
    SignalReplyDone();
}

void CControlSocket::CloseLocally() {
    Close();
    closedLocally = true;
}

void CControlSocket::ReportLocalClose() {
    if (!closedLocally) return;
    // The connection is gone although the server never said so: the operation that saw it
    // fails (1), and the session's next wait learns that the connection is closed.
    closedLocally = false;
    session.loggedIn = false;
    session.connectionClosedEvent.Set();
}

void CControlSocket::OnClose(int error) {
    switch (error) {
        case 0:
            session.Log("Control Connection Closed", LOG_STATE);
            break;
        case platform::WSAECONNABORTED:
            session.Log("Control connection was aborted due to timeout or other failure.",
                        LOG_ERROR);
            break;
        case platform::WSAECONNRESET:
            session.Log("Control connection reset by server.", LOG_ERROR);
            break;
        case platform::WSAENETDOWN:
            session.Log("The network subsystem failed.", LOG_ERROR);
            break;
        default:
            break;
    }
    Close();
    session.loggedIn = false;
    session.connectionClosedEvent.Set();
}

}  // namespace tarnwick
