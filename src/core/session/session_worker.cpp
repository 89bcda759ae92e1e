// The session's worker thread: offline wait, connect, the command loop and what follows the
// end of a session. Each numbered step of the worker is one small function here.
#include "session/ftp_session.h"

#include <utility>

namespace tarnwick {

namespace {

constexpr const char* kOfflineQuestion =
    "This site is currently offline.\n Do you wish to get online now?";

}  // namespace

void CFtpSession::SessionWorker() {
    {
        // A partner's worker may still drive this session's connection (a site-to-site queue
        // item): its sockets are not ours to touch until it is given back.
        std::unique_lock lock(workerMutex);
        givenBack.wait(lock, [this] { return borrower == nullptr || quitting; });
    }
    if (quitting) {
        RefuseLeftoverCommands();
        return;
    }
    if (connectWhenGivenBack.exchange(false)) {
        SessionCommand connect;
        connect.code = CmdConnect;
        QueueCommand(connect, 0);
    }
    WorkerStep step = WorkerStep::kOfflineWait;
    while (true) {
        switch (step) {
            case WorkerStep::kOfflineWait:
                step = OfflineWait();
                break;
            case WorkerStep::kConnect:
                step = ConnectStep();
                break;
            case WorkerStep::kSessionEnd:
                EndSession();
                if (quitting) {
                    RefuseLeftoverCommands();
                    return;
                }
                AdoptShownDirectory();
                TakeSettingsSnapshot();  // KeepAlive as it is now
                step = NextAfterSessionEnd();
                // A CmdConnect of the front end that will not connect again ends here.
                if (step != WorkerStep::kConnect && connectRequest != 0) {
                    FinishConnectRequest(lastResult);
                }
                break;
        }
    }
}

// Step 2: wait for a command while offline. Only CmdConnect connects at once; any other
// command asks whether to go online, and is not executed either way.
CFtpSession::WorkerStep CFtpSession::OfflineWait() {
    while (true) {
        const int waited = WaitForSession(&commandEvent, kNoLimit);
        if (waited == kResultInterrupted) {
            lastResult = kResultInterrupted;
            return WorkerStep::kSessionEnd;
        }
        SessionCommand cmd;
        // A close notice left over from the previous connection means nothing now.
        if (waited != kResultOk || !TakeOfflineCommand(cmd)) continue;
        lastCommand = cmd.code;
        connectRequest = cmd.code == CmdConnect ? cmd.request : 0;
        if (cmd.code == CmdConnect) return WorkerStep::kConnect;
        Log("Not logged in, can't execute command!", LOG_ERROR);
        observer.OnCommandFinished(*this, cmd.request, cmd.code, kResultFailed);
        if (Ask(kOfflineQuestion, kAskOkCancel | kAskQuestion) == kAnswerOk) {
            return WorkerStep::kConnect;
        }
    }
}

// Steps 3 to 5: connect, prepare the online session, run commands until the loop ends.
CFtpSession::WorkerStep CFtpSession::ConnectStep() {
    TakeSettingsSnapshot();
    const int connectResult = ConnectWithRetry();
    if (connectResult != kResultOk) {
        lastResult = connectResult;
        FinishConnectRequest(connectResult);
        // Giving up returns to the offline wait without "Session Closed.".
        return connectResult == kResultGaveUp ? WorkerStep::kOfflineWait : WorkerStep::kSessionEnd;
    }
    lastResult = kResultOk;
    if (EnterOnlineState()) CommandLoop();
    return WorkerStep::kSessionEnd;
}

// Step 4: logged in. Returns false when the server closed the connection meanwhile: that
// close has been consumed by the wait that saw it, so the command loop would never notice.
bool CFtpSession::EnterOnlineState() {
    AcceptPartnerTasks(true);  // taken by the command loop
    closeRequested = false;
    SetConnected(true);
    std::string listenAddress;
    if (listenSocket.Open()) listenSocket.GetSockName(listenAddress, listenPort);
    const int result = ListStartDirectory();
    // The session is online even when a step failed, but the connect does not claim success:
    // a front end must not show a directory that was never listed.
    FinishConnectRequest(result);
    if (result == kResultConnectionClosed) {
        lastResult = result;
        return false;
    }
    if (queueRunRequested) PostQueueRun();
    return true;
}

// The queue run asked for before the connect goes first: a command the front end posted
// during the start-up steps gives way to it, and its sender hears so.
void CFtpSession::PostQueueRun() {
    SessionCommand run;
    run.code = CmdRunQueue;
    SessionCommand displaced;
    // Refused only while a command waits (taken here) or while the session is busy (then the
    // run stays requested: it is asked for again when the session comes back).
    while (!QueueCommand(run, 0) && TakeOfflineCommand(displaced)) {
        observer.OnCommandFinished(*this, displaced.request, displaced.code, kResultRefused);
    }
}

// PWD, the start directory unless it is the root, and its listing (unless the front end
// turned it off): the first failure, or 4
// when the server closed the connection (which ends the steps).
int CFtpSession::ListStartDirectory() {
    int result = kResultOk;
    const auto step = [&result](int stepResult) {
        if (result == kResultOk || stepResult == kResultConnectionClosed) result = stepResult;
        return stepResult != kResultConnectionClosed;
    };
    if (step(controlSocket.PrintDir()) &&
        (startDirectory == "/" || step(controlSocket.ChangeDir(startDirectory, 0)))) {
        if (listAtStart) step(controlSocket.ListDir("", "", 0));
    }
    return result;
}

// Reports the end of a connect: under the front end's request, once, or under 0 for one the
// worker started by itself.
void CFtpSession::FinishConnectRequest(int result) {
    observer.OnCommandFinished(*this, std::exchange(connectRequest, 0), CmdConnect, result);
}

// The worker ends: a command still waiting to be taken and a connect under way are answered,
// so that no front end waits for them.
void CFtpSession::RefuseLeftoverCommands() {
    if (connectRequest != 0) FinishConnectRequest(kResultInterrupted);
    SessionCommand cmd;
    if (TakeOfflineCommand(cmd)) {
        observer.OnCommandFinished(*this, cmd.request, cmd.code, kResultRefused);
    }
}

// Step 5: execute commands one at a time until one ends the session.
void CFtpSession::CommandLoop() {
    while (true) {
        if (!IsBusy()) idleTicks = 0;
        const int waited = WaitForSession(&commandEvent, kNoLimit);
        if (waited == kResultInterrupted || waited == kResultConnectionClosed) {
            lastResult = waited;
            return;
        }
        // A site-to-site source's request for this session's half of a transfer.
        if (const int partnerResult = RunPartnerTask(); partnerResult != kNoPartnerTask) {
            if (partnerResult != kResultConnectionClosed && !quitting && !closeRequested) continue;
            lastResult = partnerResult;
            return;
        }
        SessionCommand cmd;
        if (!AcceptPendingCommand(cmd)) continue;  // busy: refused
        TakeSettingsSnapshot();
        lastCommand = cmd.code;
        if (cmd.code == CmdConnect) connectRequest = cmd.request;  // reported by the reconnect
        lastResult = ExecuteCommand(cmd);
        busy = false;
        if (cmd.code != CmdConnect) {
            observer.OnCommandFinished(*this, cmd.request, cmd.code, lastResult);
        }
        if (EndsCommandLoop(cmd.code) || quitting || closeRequested ||
            lastResult == kResultConnectionClosed) {
            return;
        }
    }
}

bool CFtpSession::EndsCommandLoop(int code) {
    return code == CmdConnect || code == CmdDisconnect || code == CmdQuit;
}

int CFtpSession::ExecuteCommand(const SessionCommand& cmd) {
    const int opt = cmd.commandOption;
    switch (cmd.code) {
        case CmdChangeDir:
            return controlSocket.ChangeDir(cmd.firstArg, opt);
        case CmdParentDir:
            return controlSocket.ParentDir(opt);
        case CmdDeleteFile:
            return controlSocket.DeleteRemoteFile(cmd.firstArg, opt);
        case CmdDownload:
            remoteSize = cmd.remoteSize;
            return controlSocket.RetrieveFile(cmd.secondArg, cmd.firstArg, opt);
        case CmdUpload:
            return controlSocket.StoreFile(cmd.secondArg, cmd.firstArg, opt);
        case CmdList:
            return controlSocket.ListDir(cmd.firstArg, cmd.listOption, opt);
        case CmdRunQueue:
            return RunQueue();
        case CmdConnect:
        case CmdDisconnect:
            return kResultOk;
        case CmdMakeDir:
            return controlSocket.MakeDir(cmd.firstArg, opt);
        case CmdQuit:
            return controlSocket.Quit();
        case CmdRemoveDir:
            return controlSocket.RemoveDir(cmd.firstArg, opt);
        case CmdRename:
            return controlSocket.RenameFile(cmd.firstArg, cmd.secondName, opt);
        case CmdPrintDir:
            return controlSocket.PrintDir();
        case CmdRest:
            return controlSocket.SendCommand("rest " + std::to_string(cmd.restOffset), true);
        default:
            observer.OnNotice(*this, "Unimplemented command!");
            return kResultFailed;
    }
}

// Every socket of the session closed, the login gone.
void CFtpSession::CloseConnections() {
    controlSocket.Close();
    dataSocket.CloseFile();
    dataSocket.Close();
    listenSocket.Close();
    loggedIn = false;
    // A close notice still pending belongs to the connection just closed.
    connectionClosedEvent.Reset();
}

// Step 6: the connection is gone (or never came): close every socket of the session.
void CFtpSession::EndSession() {
    AcceptPartnerTasks(false);
    CloseConnections();
    SetConnected(false);
    Log("Session Closed.", LOG_STATE);
}

// Step 8: a reconnect asked for by the user starts where the user was looking.
void CFtpSession::AdoptShownDirectory() {
    if (lastCommand != CmdConnect || !reconnectToShownDir) return;
    std::lock_guard lock(mutex);
    if (!shownDirectory.empty()) {
        startDirectory = shownDirectory;
    } else if (!currentDirectory.empty()) {
        startDirectory = currentDirectory;  // a front end without a pane: the last PWD
    }
}

// Step 9: reconnect or go offline, in this order of precedence.
CFtpSession::WorkerStep CFtpSession::NextAfterSessionEnd() const {
    if (lastResult == kResultInterrupted) return WorkerStep::kOfflineWait;
    // A connect refused for good (TLS refused, a certificate not trusted) would meet the same
    // refusal again: no keep-alive reconnect, which would ask about the certificate for ever.
    if (lastResult == kResultRefused) return WorkerStep::kOfflineWait;
    if (queueRunRequested && QueueHasItems()) return WorkerStep::kConnect;
    if (commandSettings->keepAlive) return WorkerStep::kConnect;
    if (lastCommand != CmdConnect) return WorkerStep::kOfflineWait;
    if (lastResult == kResultOk) return WorkerStep::kConnect;
    return WorkerStep::kOfflineWait;
}

void CFtpSession::SetConnected(bool value) {
    if (connected.exchange(value) != value) observer.OnConnectionStateChanged(*this, value);
}

}  // namespace tarnwick
