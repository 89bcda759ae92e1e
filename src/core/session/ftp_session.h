// CFtpSession: one open FTP site with its worker thread. The front end posts commands and
// reads progress; the worker connects, logs in, runs commands through the protocol engine
// (CControlSocket, CDataSocket, CListenSocket) and reports through a SessionObserver.
//
// Threads: methods marked [ui] are called by the front end's thread (any one thread at a
// time); [worker] only on the session's worker thread. Fields the front end reads while the
// worker runs are atomics; the settings are an immutable snapshot.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/app_settings.h"
#include "ftp/control_socket.h"
#include "ftp/data_socket.h"
#include "platform/event.h"   // platform::Event, platform::WaitableTimer, platform::Waitable
#include "session/session_observer.h"
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
struct SessionCommand {
    int code = CmdPrintDir;
    std::string firstArg;
    std::string secondArg;
    std::string secondName;
    std::string listOption;
    int commandOption = 0;
    uint64_t restOffset = 0;
};

class CFtpSession {
public:
    static constexpr int kDefaultTimeout = 1000;  // seconds, used by waits given 0

    // [ui] A session for `site`, not connected. The observer must outlive the session.
    CFtpSession(const SiteSetting& site, std::shared_ptr<const AppSettings> settings,
                SessionObserver& observer);
    ~CFtpSession();  // [ui] closes the session (stops the worker) if still running
    CFtpSession(const CFtpSession&) = delete;
    CFtpSession& operator=(const CFtpSession&) = delete;

    // ---- front end [ui] ----
    bool StartWorker();                           // starts the worker and posts CmdConnect
    void PostCommand(const SessionCommand& cmd);  // dropped by the worker when busy
    void StopWorker();                            // quitting + stop, waits for the worker
    void CloseSession();
    void Stop();        // the Stop command: interrupts the current operation
    void Disconnect();  // closeRequested + stop (the prompt is the front end's)
    bool TryMarkBusy();
    bool IsBusy() const;
    void IdleTick();  // once a second while KeepAlive is on
    void SendAntiIdle();
    void SetSettings(std::shared_ptr<const AppSettings> settings);  // next command sees them
    void SetShownDirectory(const std::string& dir);  // the remote pane's directory, for reconnects
    bool HasWorker() const;

    // ---- read by anyone ----
    const std::string& HostAddress() const { return hostAddress; }
    std::shared_ptr<const AppSettings> Settings() const;  // consistent snapshot
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
    void Log(const std::string& text, int kind, bool newline = true, bool prefix = true);
    int Ask(const std::string& text, int style);
    SessionObserver& Observer() { return observer; }

    // Waits (results 0, 2, 3, 4; see the waits' own comments).
    int WaitForSession(platform::Waitable* handle, int seconds);
    int WaitWithTimer(platform::Waitable& handle, int seconds);
    void ArmTimer(int seconds);
    int WaitRetryDelay();
    int ConnectWithRetry();  // 0 logged in, 2 interrupted, 5 gave up

    // Per-file retry wrappers around the protocol operations.
    int RetryDownload(const std::string& localDir, const std::string& remotePath, int opt);
    int RetryUpload(const std::string& localPath, const std::string& remoteDir, int opt);
    int RetryDeleteFile(const std::string& path, int opt);
    int RetryDeleteDir(const std::string& path, int opt);
    int RetrySiteToSite(const std::string& sourcePath, const std::string& targetDir,
                        CFtpSession& target, int opt);

    // Session state used by the protocol engine (worker thread only unless atomic above).
    std::string hostAddress;
    int port = 21;
    std::string user = "anonymous";
    std::string password;
    std::string startDirectory;
    int loginType = kLoginAnonymous;
    int hostType = 0;
    bool passive = false;
    std::string currentDirectory;
    std::string localAddress;  // of the control connection, for PORT
    int listenPort = 0;
    std::string currentFile;
    int64_t remoteSize = -1;  // -1 unknown
    std::string listingText;
    std::atomic<bool> siteToSiteActive{false};
    CFtpSession* partnerA = nullptr;  // target of a site-to-site transfer
    CFtpSession* partnerB = nullptr;  // source of a site-to-site transfer

    platform::Event stopEvent{platform::Event::kAutoReset};
    platform::Event connectionClosedEvent{platform::Event::kAutoReset};
    platform::Event commandEvent{platform::Event::kAutoReset};
    platform::WaitableTimer waitTimer;

    CControlSocket controlSocket{*this};
    CDataSocket dataSocket{*this};
    CListenSocket listenSocket{*this};

private:
    void SessionWorker();  // the thread procedure
    // ... the worker's steps as small named functions ...

    SessionObserver& observer;
    mutable std::mutex mutex;  // guards settings, pending command, shownDirectory
    std::shared_ptr<const AppSettings> settings;
    SessionCommand pendingCommand;
    std::string shownDirectory;
    std::mutex busyMutex;
    std::atomic<bool> busy{false};
    std::atomic<bool> quitting{false};
    std::atomic<bool> closeRequested{false};
    std::atomic<int> idleTicks{0};
    bool reconnectToShownDir = true;
    std::thread workerThread;
};

}  // namespace tarnwick
