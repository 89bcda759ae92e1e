// CFtpSession: construction and the front end's side (posting commands, busy flag, stop,
// keep-alive ticks). The worker's steps are in session_worker.cpp, the waits and retries in
// session_waits.cpp.
#include "session/ftp_session.h"

#include <cstdlib>
#include <utility>

namespace tarnwick {

CFtpSession::CFtpSession(const SiteSetting& site, std::shared_ptr<const AppSettings> appSettings,
                         SessionObserver& sessionObserver)
    : password(kDefaultAnonymousPassword),  // replaced by the site's login data below
      observer(sessionObserver),
      settings(std::move(appSettings)) {
    if (!settings) settings = std::make_shared<const AppSettings>();
    commandSettings = settings;
    hostAddress = site.address;
    startDirectory = site.defremotedir;
    port = site.port;
    loginType = site.logintype;
    hostType = site.hosttype;
    passive = site.passive != 0;
    if (loginType == kLoginAnonymous) {
        user = "anonymous";
        password = settings->anonymousPass;
    } else {
        user = site.username;
        password = site.password;
    }
}

CFtpSession::~CFtpSession() {
    CloseSession();
}

bool CFtpSession::StartWorker() {
    if (workerThread.Joinable()) return true;
    quitting = false;  // before the thread runs, so that an early StopWorker is not lost
    if (!workerThread.Start([this] { SessionWorker(); }, /*lowerPriority=*/true)) return false;
    SessionCommand connect;
    connect.code = CmdConnect;
    PostCommand(connect);
    return true;
}

bool CFtpSession::PostCommand(const SessionCommand& cmd) {
    {
        std::lock_guard lock(mutex);
        // The worker drops a command that arrives while it is busy; dropping it here instead
        // means it can never be picked up (with another command's fields) once the worker is
        // free again.
        if (busy) return false;
        pendingCommand = cmd;
        hasPendingCommand = true;
    }
    commandEvent.Set();
    return true;
}

bool CFtpSession::AcceptPendingCommand(SessionCommand& cmd) {
    // Taking the command and marking the session busy happen under the lock PostCommand
    // takes, so a command is either taken here or dropped there, never kept for later.
    std::lock_guard lock(mutex);
    if (!hasPendingCommand) return false;
    cmd = std::move(pendingCommand);
    hasPendingCommand = false;
    if (cmd.code == CmdRunQueue) queueRunRequested = true;
    return TryMarkBusy();
}

bool CFtpSession::TakeOfflineCommand(SessionCommand& cmd) {
    std::lock_guard lock(mutex);
    if (!hasPendingCommand) return false;
    cmd = std::move(pendingCommand);
    hasPendingCommand = false;
    return true;
}

void CFtpSession::StopWorker() {
    if (!workerThread.Joinable()) return;
    quitting = true;
    stopEvent.Set();
    workerThread.Join();
}

void CFtpSession::CloseSession() {
    StopWorker();
}

bool CFtpSession::StartQueue() {
    if (HasWorker()) {
        if (QueueHasItems()) {
            SessionCommand run;
            run.code = CmdRunQueue;
            PostCommand(run);
        }
        return true;
    }
    queueRunRequested = true;
    return StartWorker();
}

void CFtpSession::Stop() {
    if (!IsBusy()) return;
    // A site-to-site transfer is driven by the source session's worker, which waits on its
    // own stop event for both servers: stopping the target means stopping its source.
    CFtpSession* source = partnerB.load();
    const bool isTarget = siteToSiteActive && source != nullptr && source->partnerA == this;
    (isTarget ? source : this)->stopEvent.Set();
    siteToSiteActive = false;
}

void CFtpSession::Disconnect() {
    closeRequested = true;
    stopEvent.Set();
}

bool CFtpSession::TryMarkBusy() {
    std::unique_lock lock(busyMutex, std::try_to_lock);
    if (!lock.owns_lock() || busy) return false;
    busy = true;
    return true;
}

bool CFtpSession::IsBusy() const {
    return busy || queueRunRequested;
}

void CFtpSession::IdleTick() {
    const std::shared_ptr<const AppSettings> current = Settings();
    if (!current->keepAlive) return;
    const int ticks = ++idleTicks;
    if (ticks == current->antiIdleCommandInterval && !IsBusy() && connected) {
        SendAntiIdle();
        idleTicks = 0;
    }
}

void CFtpSession::SendAntiIdle() {
    // One of four commands, chosen as the original did from a 15-bit rand() value.
    const int k = (std::rand() & 0x7fff) / 8192;
    SessionCommand cmd;
    switch (k) {
        case 0:
            cmd.code = CmdChangeDir;
            cmd.commandOption = kOptForceCwd;
            break;
        case 1:
            cmd.code = CmdList;
            break;
        case 2:
            cmd.code = CmdPrintDir;
            break;
        default:
            cmd.code = CmdRest;
            cmd.restOffset = 0;
            break;
    }
    PostCommand(cmd);
}

void CFtpSession::SetSettings(std::shared_ptr<const AppSettings> newSettings) {
    if (!newSettings) return;
    std::lock_guard lock(mutex);
    settings = std::move(newSettings);
}

std::shared_ptr<const AppSettings> CFtpSession::Settings() const {
    std::lock_guard lock(mutex);
    return settings;
}

void CFtpSession::SetShownDirectory(const std::string& dir) {
    std::lock_guard lock(mutex);
    shownDirectory = dir;
}

void CFtpSession::SetDefaultTimeout(int seconds) {
    defaultTimeout = seconds > 0 ? seconds : kDefaultTimeout;
}

ConnectionValues CFtpSession::LastConnectionValues() const {
    return {hostAddress, port, user, password};
}

void CFtpSession::TakeSettingsSnapshot() {
    commandSettings = Settings();
}

void CFtpSession::Log(const std::string& text, int kind, bool newline, bool prefix) {
    if (quitting) return;
    observer.OnLog(*this, LogRecord{text, kind, newline, prefix});
}

int CFtpSession::Ask(const std::string& text, int style) {
    return observer.Ask(*this, text, style);
}

}  // namespace tarnwick
