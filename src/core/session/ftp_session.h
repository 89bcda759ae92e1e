// CFtpSession: one open FTP site with its worker thread. The front end posts commands and
// reads progress; the worker connects, logs in, runs commands through the protocol engine
// (CControlSocket, CDataSocket, CListenSocket) and reports through a SessionObserver.
//
// Threads: methods marked [ui] are called by the front end's thread (any one thread at a
// time); [worker] only on the thread that runs the session's protocol work: the worker, or a
// test thread that drives a session without starting a worker. The sockets belong to that
// thread: they are created, used and closed there. Fields the front end reads while the
// worker runs are atomics; the settings are an immutable snapshot.
//
// Ownership: the session owns its sockets, events, worker thread and transfer queue. The
// observer is not owned and must outlive the session, including a worker left to end on its
// own (see StopWorker). A partner session named by a queue item (a weak_ptr) may go away at
// any time: the queue run locks it for the item's execution, and a session that is destroyed
// while a partner's worker drives it waits until that worker has given it back (see
// BorrowPartner).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/app_settings.h"
#include "ftp/control_socket.h"
#include "ftp/data_socket.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "queue/transfer_queue.h"
#include "session/session_observer.h"
#include "session/trust_store.h"
#include "sites/site_setting.h"

namespace tarnwick {

// Result codes shared by the waits, the protocol operations, the retry wrappers and the queue.
enum ResultCode : int {
    kResultOk = 0,
    kResultFailed = 1,
    kResultInterrupted = 2,
    kResultTimedOut = 3,
    kResultConnectionClosed = 4,
    kResultGaveUp = 5,
    kResultRefused = 6,
};

enum SessionCommandCode : int {
    CmdChangeDir = 0,
    CmdParentDir = 1,
    CmdDeleteFile = 2,
    CmdDownload = 3,
    CmdUpload = 4,
    CmdList = 5,
    CmdRunQueue = 6,
    CmdConnect = 7,
    CmdMakeDir = 8,
    CmdDisconnect = 9,
    CmdQuit = 10,
    CmdRename = 11,
    CmdPrintDir = 12,
    CmdRest = 13,
    // Remove directory firstArg (opt). An addition to the original codes (there a directory
    // was removed only by a queue run); the command-line client's rmdir needs it.
    CmdRemoveDir = 14,
};

// Option bits of protocol operations.
enum CommandOption : int {
    kOptListAfter = 1,
    kOptPrintDir = 4,
    kOptChangeToFileDir = 8,
    kOptForceCwd = 32,
    kOptFreshCheckBeforeMkd = 64,
};

// A request to the worker: the code plus its argument fields.
//   CmdChangeDir   firstArg = directory            CmdDownload  secondArg = local directory,
//   CmdDeleteFile  firstArg = remote file                       firstArg = remote path,
//   CmdList        firstArg = directory,                        remoteSize (-1: unknown)
//                  listOption = LIST arguments     CmdUpload    secondArg = local path,
//   CmdMakeDir     firstArg = directory                         firstArg = remote directory
//   CmdRename      firstArg → secondName           CmdRest      restOffset
// commandOption carries the option bits (CommandOption) of the operation.
struct SessionCommand {
    int code = CmdPrintDir;
    RequestId request = 0;  // set by PostCommand
    std::string firstArg;
    std::string secondArg;
    std::string secondName;
    std::string listOption;
    int commandOption = 0;
    uint64_t restOffset = 0;
    int64_t remoteSize = -1;
};

// What the front end remembers as the last connection (quick connect bar) when a worker
// starts: a copy, so the session never writes the global settings itself.
struct ConnectionValues {
    std::string address;
    int port = 21;
    std::string user;
    std::string password;
};

// What a session is transferring, read as one consistent whole by the front end's timer.
struct ProgressSnapshot {
    bool transferring = false;
    bool siteToSite = false;
    std::string currentFile;  // the name of the file moving (or last moved)
    int64_t fileSize = -1;    // bytes, -1 unknown
    uint64_t bytesDone = 0;   // of the file so far (a resumed file starts at its offset)
    uint64_t resumeOffset = 0;
};

// What StartQueue did.
struct StartQueueResult {
    enum Kind {
        kPosted,      // the worker runs the queue now
        kAfterLogin,  // the worker was started and runs the queue once logged in
        kQueueEmpty,  // refused: nothing to run
        kBusy,        // refused: a command or a queue run is under way
        kNoThread,    // refused: the worker could not be started ("Unable to create thread!")
    };
    Kind kind = kPosted;
    RequestId request = 0;  // kPosted: the run's request, which OnCommandFinished echoes
    explicit operator bool() const { return kind == kPosted || kind == kAfterLogin; }
};

// A piece of a site-to-site transfer that the target session's worker runs for the source's
// worker (the target's sockets belong to its own thread). Shared by both workers; `mutex`
// guards every field but the event.
struct PartnerTask {
    std::function<int(CControlSocket&)> work;             // runs on the target's worker
    platform::Event done{platform::Event::kManualReset};  // set once finished
    std::mutex mutex;
    bool running = false;    // the target's worker is in `work`
    bool finished = false;   // `result` is final
    bool cancelled = false;  // the source gave up on it: its waits are interrupted
    int result = kResultFailed;
};

class CQueueRun;

class CFtpSession : public std::enable_shared_from_this<CFtpSession> {
public:
    static constexpr int kDefaultTimeout = 1000;  // seconds: the default deadline of a wait
    static constexpr int kNoLimit = -1;           // a wait without deadline
    // How long StopWorker waits for the worker of a shared session before it lets it end on
    // its own.
    static constexpr int kShutdownSeconds = 5;

    // [ui] A session for `site`, not connected. An anonymous site logs in as "anonymous" with
    // the settings' AnonymousPass. The observer must outlive the session.
    CFtpSession(const SiteSetting& site, std::shared_ptr<const AppSettings> settings,
                SessionObserver& observer);
    ~CFtpSession();  // [ui] closes the session (stops the worker) if still running
    CFtpSession(const CFtpSession&) = delete;
    CFtpSession& operator=(const CFtpSession&) = delete;

    // ---- front end [ui] ----
    // Starts the worker (which lowers its own priority) and posts CmdConnect. False when the
    // thread cannot be created: the front end reports "Unable to create thread!".
    bool StartWorker();
    // Hands a command to the worker and returns its request id, which OnCommandFinished
    // echoes exactly once. 0 (the command is refused, nothing is reported) while the session
    // is busy or another command is still waiting to be taken, as the worker would drop it.
    RequestId PostCommand(const SessionCommand& cmd);
    // Ends the worker: no more log lines, a pending question is cancelled with its safe
    // default, the current operation is interrupted, the progress ends. Not from the worker
    // thread. A session owned by a std::shared_ptr waits at most kShutdownSeconds: a worker
    // that has not ended by then (stuck in a front end's callback, say) is detached and owns
    // the session until it ends, so it never touches a destroyed session; the session is
    // then destroyed on the worker's thread, and no new worker starts meanwhile. A session
    // not owned by a shared_ptr (on the stack) waits until the worker has ended.
    void StopWorker();
    void CloseSession();  // StopWorker; the front end removes the session's tab and log
    // Start Transfer: runs the queue now (worker running) or right after login (worker
    // started here). Refused, with nothing changed, when the worker runs and the queue is
    // empty or the session is busy (CanStartQueue tells beforehand), or when a needed worker
    // could not be started; the result says which (true when the run was started or will
    // start after login).
    StartQueueResult StartQueue();
    // Every item in error (and, when includeStopped, every stopped one) becomes queued, then
    // "Reset entire queue including/excluding stopped items." is logged. [any]
    void ResetQueue(bool includeStopped);
    bool AllStopped() const { return queue.AllStopped(); }  // empty, or every item stopped
    bool HasStopped() const { return queue.HasStopped(); }
    bool CanStartQueue() const { return !queue.Empty() && !IsBusy(); }
    // True while a queue run has been asked for and has not ended for good. A run cut by a
    // lost connection (CmdRunQueue finished with 4) stays pending: the worker reconnects and
    // runs the queue again. It is cleared when a run ends with nothing left to do (the queue
    // empty or every item stopped) or by an interruption. [any]
    bool QueueRunPending() const { return queueRunRequested; }
    // The Stop command: cancels a pending question and interrupts the current operation when
    // busy.
    void Stop();
    // closeRequested + stop, a pending question cancelled (the confirmation prompt is the
    // front end's).
    void Disconnect();
    bool TryMarkBusy();
    bool IsBusy() const;  // a command or queue run is executing, or a queue run is requested
    void IdleTick();      // once a second; sends an anti-idle command when due (KeepAlive on)
    void SendAntiIdle();  // posts one of four harmless commands
    void SetSettings(std::shared_ptr<const AppSettings> settings);  // next command sees them
    void SetShownDirectory(const std::string& dir);                 // the remote pane's directory
    // The deadline of waits given 0 seconds (kDefaultTimeout unless a front end sets its
    // own, e.g. the command-line client's --timeout). Takes effect at the next wait.
    void SetDefaultTimeout(int seconds);
    // The remembered certificates to use instead of the program home's (before StartWorker).
    void SetTrustStore(std::shared_ptr<TrustStore> store) { trustStore = std::move(store); }
    int DefaultTimeout() const { return defaultTimeout; }
    // Whether the start-up lists the start directory (on unless a front end that needs no
    // listing, such as a one-shot transfer, turns it off before StartWorker). Off, the
    // start-up is PWD and the CWD into the start directory only.
    void SetListAtStart(bool list) { listAtStart = list; }
    bool HasWorker() const;
    ConnectionValues LastConnectionValues() const;

    // ---- the transfer queue ----
    // Locks itself, so any thread may use it; every change is reported to the observer
    // (OnQueueChanged) on the thread that made it. The queue run (CmdRunQueue) executes it.
    TransferQueue queue;

    // ---- read by anyone ----
    SessionId Id() const { return id; }
    ProgressSnapshot Progress() const;  // [any] never torn
    const std::string& HostAddress() const { return hostAddress; }
    std::shared_ptr<const AppSettings> Settings() const;  // the latest snapshot
    // Kept for the transition to Progress(): the protocol engine updates both.
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> fileSize{0};
    std::atomic<uint64_t> resumeOffset{0};
    std::atomic<bool> transferInProgress{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> loggedIn{false};
    std::atomic<bool> queueFinished{true};
    std::atomic<bool> queueRunRequested{false};
    std::atomic<int> transferType{2};  // 0 ASCII, 1 image, 2 automatic by extension

    // ---- worker [worker] ----
    // The settings snapshot taken at the start of the current command or connect attempt:
    // one command sees one consistent set of settings.
    const AppSettings& CommandSettings() const { return *commandSettings; }
    void Log(const std::string& text, int kind, bool newline = true, bool prefix = true);
    // The progress the front end reads (Progress()): a transfer begins, moves bytes, ends.
    void BeginProgress(const std::string& file, int64_t size, uint64_t resumeOffset,
                       bool siteToSite);
    void AddProgress(uint64_t bytes);
    void EndProgress();
    // The queue item the worker is executing (QueueItem::id), 0 outside a queue run: the
    // protocol engine names it in OnTransferStarted/OnTransferFinished.
    uint64_t currentItemId = 0;
    // The worker's questions: block until the front end answers or the question is
    // cancelled with its safe default (Stop, Disconnect, StopWorker). A worker that is being
    // stopped asks no one and gets the safe default at once.
    int Ask(const std::string& text, int style);
    OverwriteAnswer AskOverwrite(const OverwriteQuestion& question);
    // Whether to trust a certificate that did not verify: true for Yes.
    bool AskCertificate(const CertificateQuestion& question);
    SessionObserver& Observer() { return observer; }

    // Waits: each can be broken by stopEvent (2, "Interrupted by user") and by
    // connectionClosedEvent (4, "Control connection closed by server."), dispatches the
    // calling thread's socket notifications while it waits, and returns 0 when `handle` is
    // signalled, 3 at the deadline. `seconds`: 0 means DefaultTimeout(), kNoLimit none.
    int WaitForSession(platform::Waitable* handle, int seconds);
    int WaitWithTimer(platform::Waitable& handle, int seconds);  // deadline from waitTimer
    void ArmTimer(int seconds);  // (re)arms waitTimer; 0 means DefaultTimeout()
    int WaitRetryDelay();        // "Waiting to retry..."; 3 when the whole delay passed
    int ConnectWithRetry();      // 0 logged in, 2 interrupted, 5 gave up

    // Lists `dir` on the server, changing into it first unless it is the current directory:
    // the listing is left in listingText and in the directory cache.
    int ListDirectoryAfresh(const std::string& dir);

    // Per-file retry wrappers around the protocol operations (tried FileRetry + 1 times). A
    // retried upload lists its target directory first, so that the part of the file the
    // failed attempt left on the server is found and resumed, not sent again.
    int RetryDownload(const std::string& localDir, const std::string& remotePath, int opt);
    int RetryUpload(const std::string& localPath, const std::string& remoteDir, int opt);
    int RetryDeleteFile(const std::string& path, int opt);
    int RetryDeleteDir(const std::string& path, int opt);
    int RetrySiteToSite(const std::string& sourcePath, const std::string& targetDir,
                        CFtpSession& target, int opt);

    // ---- a partner session taking part in a site-to-site queue item ----
    // Sockets belong to the thread that opened them. A target with a worker of its own runs
    // its half of each transfer on that worker (StartForPartner). A target without one is
    // borrowed: the source's worker opens the target's control connection on its own thread,
    // drives it, and closes it again before it gives the target back. A worker started for
    // the target while it is borrowed waits until it is given back, then connects.
    enum class BorrowResult { kBorrowed, kBusy, kHasWorker, kGone };
    // [worker of `borrower`] Takes `partner`'s busy flag, and the right to drive it when it
    // has no worker (kBorrowed): kHasWorker when it runs a worker of its own (its busy flag
    // is taken all the same), kBusy when the partner is busy (or borrowed already), kGone
    // when the partner is closed (null) or is the borrower itself.
    static BorrowResult BorrowPartner(const std::shared_ptr<CFtpSession>& partner,
                                      CFtpSession& borrower);
    // [worker of the borrower] Connects and logs in a borrowed session from the calling
    // thread: 0 logged in, 2 interrupted, 5 gave up.
    int ConnectForBorrower();
    // [worker of the borrower] Closes every socket the borrower opened for this session
    // (when it was borrowed), clears its busy flag and gives it back.
    void ReturnToOwner();

    // ---- the target's half of a site-to-site transfer ----
    // A target with a worker of its own runs each piece (CWD, TYPE, PASV or PORT, STOR and
    // its replies) on that worker, which takes it like a command while it waits for one; a
    // target without one (borrowed, or driven by a test thread) runs it on the calling
    // thread. A target's lost connection comes back as a failure (1): it is not the source's.
    bool RunsItsOwnWork() const;  // [any] a worker of its own runs this session (not borrowed)
    // [source's worker] Starts `work` here; returns at once when this session's worker runs it.
    std::shared_ptr<PartnerTask> StartForPartner(std::function<int(CControlSocket&)> work);
    // [source's worker] Waits (bounded by the source's deadline) for the result; a wait the
    // source's Stop (or lost connection) ends cancels the task first and returns 2 (or 4).
    int FinishForPartner(CFtpSession& source, PartnerTask& task);
    int RunForPartner(CFtpSession& source, std::function<int(CControlSocket&)> work);
    // [source's worker] Interrupts the task's waits on this session's worker and waits
    // (bounded) until the worker has let go of it.
    void CancelForPartner(PartnerTask& task);
    // [worker] As WaitForSession(..., 0) for two handles; `which` is 0 or 1 for the one that
    // was signalled.
    int WaitForEither(platform::Waitable& first, platform::Waitable& second, int& which);

    // Session state used by the protocol engine (worker thread only unless atomic above).
    std::string hostAddress;
    int port = 21;
    std::string user = "anonymous";
    std::string password;
    std::string startDirectory;
    int loginType = kLoginAnonymous;
    int hostType = 0;
    bool passive = false;
    int tlsMode = kTlsNone;
    bool tlsAcceptUnverified = false;
    std::string tlsPinnedFingerprint;  // normalized; empty for none
    std::string tlsCaFile;
    std::shared_ptr<platform::TlsContext> tlsContext;  // made at the first TLS connect
    // The remembered certificates; the program home's (read-write) when the front end set
    // none, made at the first certificate that does not verify.
    std::shared_ptr<TrustStore> trustStore;
    // The fingerprint of the certificate accepted on the control connection: data
    // connections offering the same one are accepted too.
    std::string tlsAcceptedFingerprint;
    std::string currentDirectory;
    std::string localAddress;       // of the control connection, for PORT
    ServerFeatures serverFeatures;  // from FEAT after the last login; none before
    int listenPort = 0;
    std::string currentFile;
    int64_t remoteSize = -1;  // -1 unknown
    std::string listingText;
    std::string listingDirectory;  // the directory listingText is the listing of
    // listingText parsed once, when the listing completed (null while none is complete);
    // OnListing(done) hands on the same list.
    std::shared_ptr<const FileEntryList> listingEntries;
    std::atomic<bool> siteToSiteActive{false};
    // The partners of a site-to-site queue item: set by the source's worker for the item and
    // cleared when it ends (the source holds the target meanwhile), read by Stop on the front
    // end's thread: a Stop of the target stops the source, which ends both halves.
    std::atomic<CFtpSession*> partnerA{nullptr};  // target of a site-to-site transfer
    std::atomic<CFtpSession*> partnerB{nullptr};  // source of a site-to-site transfer

    platform::Event stopEvent{platform::Event::kAutoReset};
    platform::Event connectionClosedEvent{platform::Event::kAutoReset};
    platform::Event commandEvent{platform::Event::kAutoReset};
    platform::WaitableTimer waitTimer;

    CControlSocket controlSocket{*this};
    CDataSocket dataSocket{*this};
    CListenSocket listenSocket{*this};

private:
    // Where the worker goes after a step (the numbers of the worker's steps in comments).
    enum class WorkerStep { kOfflineWait, kConnect, kSessionEnd };

    void SessionWorker();  // the thread procedure
    WorkerStep OfflineWait();
    WorkerStep ConnectStep();
    bool EnterOnlineState();  // false when the server closed the connection meanwhile
    void CommandLoop();
    void EndSession();
    void CloseConnections();  // [thread of the sockets]
    void AdoptShownDirectory();
    WorkerStep NextAfterSessionEnd() const;
    int ListStartDirectory();  // PWD, CWD and LIST after login: the first failure
    void PostQueueRun();
    void FinishConnectRequest(int result);
    void RefuseLeftoverCommands();

    // Keeps `cmd` for the worker under `request` (0: the session's own command); false while
    // busy or while another command waits.
    bool QueueCommand(const SessionCommand& cmd, RequestId request);
    bool AcceptPendingCommand(SessionCommand& cmd);  // take it and mark busy
    bool TakeOfflineCommand(SessionCommand& cmd);
    int ExecuteCommand(const SessionCommand& cmd);
    static bool EndsCommandLoop(int code);
    void TakeSettingsSnapshot();
    void SetConnected(bool value);
    void StoreLocalAddress();

    friend class CQueueRun;
    bool QueueHasItems() const { return !queue.Empty(); }
    int RunQueue();  // the handler of CmdRunQueue (queue/queue_run.cpp)
    void WaitUntilGivenBack();
    // [worker] The command loop takes a partner's task: its result, kNoPartnerTask when none.
    static constexpr int kNoPartnerTask = -1;
    int RunPartnerTask();
    // [worker] Opens (command loop) or closes (session end) the session for partner tasks;
    // closing fails a task not yet taken.
    void AcceptPartnerTasks(bool accept);

    int WaitForSessionExact(platform::Waitable* handle, int seconds);
    int WaitConnectRetryDelay();
    void LogWaitFailed();
    int ResultOfWait(int signalled, int timeoutIndex, bool timeoutIsError);
    void LogServerClosed();
    bool CreateControlSocket();
    template <typename Operation>
    int RetryFileOperation(Operation operation, bool reconnectOnClose, const char* retryMessage,
                           bool returnAtOnce(int));
    static void FatalError(const std::string& text);

    // Asks the observer and waits for the answer (or the cancel) of `question`.
    void AskAndWait(const std::shared_ptr<Question>& question);
    void WaitForAnswer(Question& question);
    void CancelPendingQuestion();
    // The end of the worker's thread body: releases the ownership a detached worker holds.
    void WorkerEnded();

    const SessionId id;
    mutable std::mutex progressMutex;  // guards progress
    ProgressSnapshot progress;
    SessionObserver& observer;
    mutable std::mutex mutex;  // guards settings, pendingCommand, hasPendingCommand,
                               // shownDirectory, pendingQuestion
    std::shared_ptr<const AppSettings> settings;
    SessionCommand pendingCommand;
    bool hasPendingCommand = false;
    std::string shownDirectory;
    std::shared_ptr<Question> pendingQuestion;           // the one the worker waits for
    std::shared_ptr<const AppSettings> commandSettings;  // worker's snapshot
    std::mutex busyMutex;
    std::atomic<bool> busy{false};
    std::atomic<bool> quitting{false};
    std::atomic<bool> closeRequested{false};
    std::atomic<int> idleTicks{0};
    std::atomic<int> defaultTimeout{kDefaultTimeout};
    std::atomic<bool> listAtStart{true};
    bool reconnectToShownDir = true;
    int lastCommand = CmdConnect;  // [worker] the last command taken: decides what follows
    int lastResult = kResultOk;    // [worker] ... and its result
    RequestId connectRequest = 0;  // [worker] the request of the connect under way
    platform::WorkerThread workerThread;

    // Who runs this session's protocol work: its own worker, or a partner's worker that
    // borrowed it. Guarded by workerMutex; givenBack is notified when borrower is cleared
    // and when the worker is asked to quit.
    mutable std::mutex workerMutex;
    std::condition_variable givenBack;
    bool workerRunning = false;
    // A worker StopWorker detached: it owns the session (ownedByWorker) until its body ends.
    bool workerBodyEnded = true;
    bool detachedWorker = false;
    std::shared_ptr<CFtpSession> ownedByWorker;
    CFtpSession* borrower = nullptr;
    // The partner task handed to this session's worker, and whether its command loop takes
    // them now. Guarded by partnerTaskMutex.
    std::mutex partnerTaskMutex;
    std::shared_ptr<PartnerTask> pendingPartnerTask;
    bool acceptsPartnerTasks = false;
    // StartWorker could not post CmdConnect because the session was borrowed: the worker
    // connects once the session is given back.
    std::atomic<bool> connectWhenGivenBack{false};
};

}  // namespace tarnwick
