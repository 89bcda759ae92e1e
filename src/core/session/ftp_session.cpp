// CFtpSession: construction and the front end's side (posting commands, busy flag, stop,
// keep-alive ticks). The worker's steps are in session_worker.cpp, the waits and retries in
// session_waits.cpp.
#include "session/ftp_session.h"

#include "platform/message_pump.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <span>
#include <utility>

namespace tarnwick {

namespace {

// Session and request ids are unique in the process and never 0.
std::atomic<SessionId> nextSessionId{1};
std::atomic<RequestId> nextRequestId{1};

}  // namespace

CFtpSession::CFtpSession(const SiteSetting& site, std::shared_ptr<const AppSettings> appSettings,
                         SessionObserver& sessionObserver)
    : password(kDefaultAnonymousPassword),  // replaced by the site's login data below
      id(nextSessionId.fetch_add(1, std::memory_order_relaxed)),
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
    tlsMode = site.tls;
    tlsAcceptUnverified = site.tlsAcceptUnverified;
    // A pin that is no fingerprint stays as it is: it matches nothing, so nothing is accepted.
    tlsPinnedFingerprint = NormalizeFingerprint(site.tlsPinnedFingerprint);
    if (tlsPinnedFingerprint.empty()) tlsPinnedFingerprint = site.tlsPinnedFingerprint;
    tlsCaFile = site.tlsCaFile;
    if (loginType == kLoginAnonymous) {
        user = "anonymous";
        password = settings->anonymousPass;
    } else {
        user = site.username;
        password = site.password;
    }
    queue.SetChangedHandler(
        [this](const QueueChange& change) { observer.OnQueueChanged(*this, change); });
}

CFtpSession::~CFtpSession() {
    CloseSession();
    WaitUntilGivenBack();
    queue.SetChangedHandler({});
}

void CFtpSession::WaitUntilGivenBack() {
    std::unique_lock lock(workerMutex);
    // The borrower's queue item is interrupted so that the wait is short.
    if (borrower != nullptr) borrower->stopEvent.Set();
    givenBack.wait(lock, [this] { return borrower == nullptr; });
}

bool CFtpSession::StartWorker() {
    std::lock_guard lock(workerMutex);
    if (workerRunning) return true;
    if (detachedWorker) return false;  // the last worker has not ended yet
    quitting = false;  // before the thread runs, so that an early StopWorker is not lost
    workerBodyEnded = false;
    const auto body = [this] {
        SessionWorker();
        WorkerEnded();
    };
    if (!workerThread.Start(body, /*lowerPriority=*/true)) {
        workerBodyEnded = true;
        return false;
    }
    workerRunning = true;
    SessionCommand connect;
    connect.code = CmdConnect;
    // Refused only while a partner has borrowed the session (and holds its busy flag).
    if (!QueueCommand(connect, 0)) connectWhenGivenBack = true;
    return true;
}

void CFtpSession::WorkerEnded() {
    std::shared_ptr<CFtpSession> owner;
    {
        std::lock_guard lock(workerMutex);
        workerBodyEnded = true;
        detachedWorker = false;
        owner = std::move(ownedByWorker);
    }
    // When `owner` was the last owner, the session is destroyed here, on this thread, with
    // nothing of it touched afterwards.
}

bool CFtpSession::HasWorker() const {
    std::lock_guard lock(workerMutex);
    return workerRunning;
}

RequestId CFtpSession::PostCommand(const SessionCommand& cmd) {
    const RequestId request = nextRequestId.fetch_add(1, std::memory_order_relaxed);
    return QueueCommand(cmd, request) ? request : 0;
}

bool CFtpSession::QueueCommand(const SessionCommand& cmd, RequestId request) {
    {
        std::lock_guard lock(mutex);
        // The worker drops a command that arrives while it is busy; refusing it here instead
        // means it can never be picked up (with another command's fields) once the worker is
        // free again. A command not yet taken is never overwritten: its request would never
        // be answered.
        if (busy || hasPendingCommand) return false;
        pendingCommand = cmd;
        pendingCommand.request = request;
        hasPendingCommand = true;
    }
    commandEvent.Set();
    return true;
}

bool CFtpSession::AcceptPendingCommand(SessionCommand& cmd) {
    {
        // Taking the command and marking the session busy happen under the lock PostCommand
        // takes, so a command is either taken here or refused there.
        std::lock_guard lock(mutex);
        if (!hasPendingCommand) return false;
        cmd = std::move(pendingCommand);
        hasPendingCommand = false;
        if (cmd.code == CmdRunQueue) queueRunRequested = true;
        if (TryMarkBusy()) return true;
    }
    // Busy meanwhile (a partner's worker trying to borrow the session holds the flag): the
    // command cannot run, and its sender hears so.
    observer.OnCommandFinished(*this, cmd.request, cmd.code, kResultRefused);
    return false;
}

bool CFtpSession::TakeOfflineCommand(SessionCommand& cmd) {
    std::lock_guard lock(mutex);
    if (!hasPendingCommand) return false;
    cmd = std::move(pendingCommand);
    hasPendingCommand = false;
    return true;
}

void CFtpSession::StopWorker() {
    if (!HasWorker()) return;
    quitting = true;
    stopEvent.Set();
    CancelPendingQuestion();  // after quitting: the worker asks no new one
    {
        // A worker waiting to be given back sees quitting. Notified under the lock: a waiter
        // may destroy the session as soon as it can take the lock.
        std::lock_guard lock(workerMutex);
        givenBack.notify_all();
    }
    // Held until the end of this function: a detached worker may drop its ownership at any
    // time, and this call must not be the one that destroys the session it runs on.
    std::shared_ptr<CFtpSession> self = weak_from_this().lock();
    const bool ended =
        !self || platform::MessagePumpWait(workerThread.Finished(), kShutdownSeconds) !=
                     platform::WAIT_TIMEOUT;
    bool detached = false;
    {
        std::lock_guard lock(workerMutex);
        if (!ended && !workerBodyEnded) {
            ownedByWorker = self;
            detachedWorker = detached = true;
        }
        workerRunning = false;
    }
    if (detached) {
        observer.OnLog(*this,
                       LogRecord{"The worker did not end in time; it is left to end on its own.",
                                 LOG_WARNING});
        workerThread.Detach();
    } else {
        workerThread.Join();
    }
    EndProgress();
}

void CFtpSession::CloseSession() {
    StopWorker();
}

void CFtpSession::ResetQueue(bool includeStopped) {
    queue.ResetStates(includeStopped);
    Log(includeStopped ? "Reset entire queue including stopped items."
                       : "Reset entire queue excluding stopped items.",
        LOG_STATE);
}

CFtpSession::BorrowResult CFtpSession::BorrowPartner(const std::shared_ptr<CFtpSession>& partner,
                                                     CFtpSession& borrowing) {
    if (partner == nullptr || partner.get() == &borrowing) return BorrowResult::kGone;
    std::lock_guard lock(partner->workerMutex);
    if (partner->borrower != nullptr || !partner->TryMarkBusy()) return BorrowResult::kBusy;
    if (partner->workerRunning) return BorrowResult::kHasWorker;
    partner->borrower = &borrowing;
    return BorrowResult::kBorrowed;
}

int CFtpSession::ConnectForBorrower() {
    TakeSettingsSnapshot();
    return ConnectWithRetry();
}

void CFtpSession::ReturnToOwner() {
    if (!RunsItsOwnWork()) CloseConnections();
    siteToSiteActive = false;
    busy = false;
    // Notified under the lock: the owner waiting in its destructor may destroy the session
    // (and givenBack) as soon as it can take the lock.
    std::lock_guard lock(workerMutex);
    borrower = nullptr;
    givenBack.notify_all();
}

bool CFtpSession::RunsItsOwnWork() const {
    std::lock_guard lock(workerMutex);
    return workerRunning && borrower == nullptr;
}

std::shared_ptr<PartnerTask> CFtpSession::StartForPartner(
    std::function<int(CControlSocket&)> work) {
    auto task = std::make_shared<PartnerTask>();
    task->work = std::move(work);
    bool handedOver = false;
    if (RunsItsOwnWork()) {
        std::lock_guard lock(partnerTaskMutex);
        handedOver = acceptsPartnerTasks && pendingPartnerTask == nullptr;
        if (handedOver) pendingPartnerTask = task;
    } else {
        task->result = task->work(controlSocket);  // the calling thread drives this session
        handedOver = true;
        task->finished = true;
    }
    if (!handedOver) {  // offline, or ending: the target cannot take part
        Log("The session is not ready for a site-to-site transfer.", LOG_ERROR);
        task->finished = true;
    }
    if (task->finished) {
        task->done.Set();
    } else {
        commandEvent.Set();
    }
    return task;
}

int CFtpSession::FinishForPartner(CFtpSession& source, PartnerTask& task) {
    {
        std::lock_guard lock(task.mutex);
        if (task.finished)
            return task.result == kResultConnectionClosed ? kResultFailed : task.result;
    }
    const int waited = source.WaitForSession(&task.done, 0);
    if (waited != kResultOk) {
        CancelForPartner(task);
        return waited;
    }
    std::lock_guard lock(task.mutex);
    return task.result == kResultConnectionClosed ? kResultFailed : task.result;
}

int CFtpSession::RunForPartner(CFtpSession& source, std::function<int(CControlSocket&)> work) {
    return FinishForPartner(source, *StartForPartner(std::move(work)));
}

void CFtpSession::CancelForPartner(PartnerTask& task) {
    bool taken = true;
    {
        std::lock_guard lock(partnerTaskMutex);
        if (pendingPartnerTask.get() == &task) {
            pendingPartnerTask.reset();
            taken = false;
        }
    }
    {
        std::lock_guard lock(task.mutex);
        if (task.finished) return;
        task.cancelled = true;
        if (!taken) {
            task.result = kResultInterrupted;
            task.finished = true;
            task.done.Set();
            return;
        }
        if (task.running) stopEvent.Set();
    }
    // The worker sees the cancel at its next wait (or before it starts the task).
    platform::MessagePumpWait(task.done, DefaultTimeout());
}

int CFtpSession::RunPartnerTask() {
    std::shared_ptr<PartnerTask> task;
    {
        std::lock_guard lock(partnerTaskMutex);
        task = std::move(pendingPartnerTask);
    }
    if (task == nullptr) return kNoPartnerTask;
    int result = kResultInterrupted;
    bool cancelled = false;
    {
        std::lock_guard lock(task->mutex);
        cancelled = task->cancelled;
        task->running = !cancelled;
    }
    if (!cancelled) result = task->work(controlSocket);
    {
        std::lock_guard lock(task->mutex);
        // A cancel that came after the task's last wait was meant for the task, not for the
        // command loop, which it would end; a Disconnect or Close keeps its stop.
        if (task->cancelled && !cancelled && result != kResultInterrupted && !quitting &&
            !closeRequested) {
            stopEvent.Reset();
        }
        task->running = false;
        task->result = result;
        task->finished = true;
        task->done.Set();
    }
    return result;
}

void CFtpSession::AcceptPartnerTasks(bool accept) {
    std::shared_ptr<PartnerTask> dropped;
    {
        std::lock_guard lock(partnerTaskMutex);
        acceptsPartnerTasks = accept;
        if (!accept) dropped = std::move(pendingPartnerTask);
    }
    if (dropped == nullptr) return;
    std::lock_guard lock(dropped->mutex);
    dropped->result = kResultFailed;
    dropped->finished = true;
    dropped->done.Set();
}

int CFtpSession::WaitForEither(platform::Waitable& first, platform::Waitable& second, int& which) {
    std::array<platform::Waitable*, 4> handles{&stopEvent, &connectionClosedEvent, &first, &second};
    const int signalled = platform::MessagePumpWait(std::span(handles), DefaultTimeout());
    which = signalled - 2;
    return ResultOfWait(signalled, -1, true);
}

StartQueueResult CFtpSession::StartQueue() {
    if (HasWorker()) {
        if (!QueueHasItems()) return {StartQueueResult::kQueueEmpty};
        if (IsBusy()) return {StartQueueResult::kBusy};
        SessionCommand run;
        run.code = CmdRunQueue;
        const RequestId request = PostCommand(run);
        if (request == 0) return {StartQueueResult::kBusy};
        return {StartQueueResult::kPosted, request};
    }
    queueRunRequested = true;
    if (StartWorker()) return {StartQueueResult::kAfterLogin};
    queueRunRequested = false;
    return {StartQueueResult::kNoThread};
}

void CFtpSession::Stop() {
    CancelPendingQuestion();  // also while offline: the offline prompt
    if (!IsBusy()) return;
    // A site-to-site transfer is led by the source session's worker, which ends the target's
    // half when it is stopped: stopping the target means stopping its source.
    CFtpSession* source = partnerB.load();
    const bool isTarget = source != nullptr && source->partnerA == this;
    (isTarget ? *source : *this).stopEvent.Set();
    siteToSiteActive = false;
}

void CFtpSession::Disconnect() {
    closeRequested = true;
    stopEvent.Set();
    CancelPendingQuestion();
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
    QueueCommand(cmd, 0);  // the session's own: no front end waits for it
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

ProgressSnapshot CFtpSession::Progress() const {
    std::lock_guard lock(progressMutex);
    return progress;
}

void CFtpSession::BeginProgress(const std::string& file, int64_t size, uint64_t offset,
                                bool siteToSite) {
    std::lock_guard lock(progressMutex);
    progress = ProgressSnapshot{true, siteToSite, file, size, offset, offset};
}

void CFtpSession::AddProgress(uint64_t bytes) {
    std::lock_guard lock(progressMutex);
    progress.bytesDone += bytes;
}

void CFtpSession::EndProgress() {
    std::lock_guard lock(progressMutex);
    progress.transferring = false;
}

int CFtpSession::Ask(const std::string& text, int style) {
    auto question = std::make_shared<Question>(text, style);
    AskAndWait(question);
    return question->AskResult();
}

OverwriteAnswer CFtpSession::AskOverwrite(const OverwriteQuestion& overwrite) {
    auto question = std::make_shared<Question>(overwrite);
    AskAndWait(question);
    return question->OverwriteResult();
}

bool CFtpSession::AskCertificate(const CertificateQuestion& certificate) {
    auto question = std::make_shared<Question>(certificate);
    AskAndWait(question);
    return question->AskResult() == kAnswerYes;
}

void CFtpSession::AskAndWait(const std::shared_ptr<Question>& question) {
    {
        // quitting is tested under the lock StopWorker takes to cancel: a question is either
        // seen and cancelled there, or never asked.
        std::lock_guard lock(mutex);
        if (quitting) {
            question->Cancel();
            return;
        }
        pendingQuestion = question;
    }
    observer.OnQuestion(*this, question);
    WaitForAnswer(*question);
    std::lock_guard lock(mutex);
    pendingQuestion.reset();
}

void CFtpSession::WaitForAnswer(Question& question) {
    while (!question.Answered()) {
        if (platform::MessagePumpWait(question.AnsweredEvent(), kNoLimit) ==
            platform::WAIT_FAILED) {
            LogWaitFailed();
            question.Cancel();
        }
    }
}

void CFtpSession::CancelPendingQuestion() {
    std::shared_ptr<Question> question;
    {
        std::lock_guard lock(mutex);
        question = pendingQuestion;
    }
    if (question) question->Cancel();
}

}  // namespace tarnwick
