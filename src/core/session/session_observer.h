// How a session reports to its front end (the GUI marshals each call onto its own thread; the
// command-line client prints). Calls come from the session's worker thread, with two
// exceptions: OnQueueChanged comes from whichever thread changed the queue (the front end's
// own changes included), and the calls of a partner session driven by a site-to-site queue
// item come from the worker of the session running that item.
//
// Informative calls carry copies of their data (or shared pointers to immutable data) and
// must return promptly: the worker never waits on the front end for them. A front end that
// hands a notification to another thread keeps only the session's Id(), never the
// reference: the session may be closed before the notification is handled.
//
// Questions (OnQuestion) are answered asynchronously: the worker waits for the answer, and
// Stop, Disconnect, Close and the end of the worker answer a pending question with its safe
// default, so the worker never waits on a window that is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "listing/listing_parser.h"
#include "queue/transfer_queue.h"
#include "session/question.h"

namespace tarnwick {

class CFtpSession;

// A session's stable number: unique in the process, never reused, never 0.
using SessionId = uint64_t;
// The number PostCommand gives an accepted command; OnCommandFinished echoes it. 0 names the
// commands the worker starts by itself (the connect at start, keep-alive reconnects).
using RequestId = uint64_t;

// Log kinds and the log record of a session line.
enum LogKind : int {
    LOG_STATE = 0,
    LOG_WARNING = 1,
    LOG_ERROR = 2,
    LOG_REPLY = 3,
    LOG_COMMAND = 4
};

// The log pane's prefix of a log kind ("State:>\t\t", ...); empty for an unknown kind.
inline std::string_view LogPrefix(int kind) {
    constexpr std::string_view kPrefixes[] = {"State:>\t\t", "Warning:>\t", "Error:>\t\t",
                                              "Reply:>\t", "Command:>\t"};
    return kind >= LOG_STATE && kind <= LOG_COMMAND ? kPrefixes[kind] : std::string_view{};
}

struct LogRecord {
    std::string text;
    int kind = LOG_STATE;
    bool newline = true;  // the view ends the line
    bool prefix = true;   // the view puts the kind's prefix in front
};

enum class TransferDirection : int { kDownload = 0, kUpload = 1, kSiteToSite = 2 };

// One file transfer, as OnTransferStarted and OnTransferFinished report it.
struct TransferInfo {
    uint64_t itemId = 0;  // the queue item (QueueItem::id), 0 for a transfer outside the queue
    TransferDirection direction = TransferDirection::kDownload;
    std::string localPath;   // site-to-site: the target's ftp:// URL
    std::string remotePath;  // absolute; site-to-site: the source path
    int64_t size = -1;       // bytes, -1 unknown
    uint64_t resumeOffset = 0;
};

// A listing that is done: the directory it lists and its entries, parsed once on the worker.
struct ListingInfo {
    std::string directory;
    std::shared_ptr<const FileEntryList> entries;  // never null in OnListing(done)
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // Informative.
    virtual void OnLog(CFtpSession&, const LogRecord&) {}
    virtual void OnDirectoryChanged(CFtpSession&, const std::string& /*directory*/) {}
    // A listing started (done false, listing empty) or is done and cached (done true).
    virtual void OnListing(CFtpSession&, bool /*done*/, const ListingInfo& /*listing*/) {}
    // A queue item started (done false) or ended (done true), by QueueItem::id.
    virtual void OnQueueItemStarted(CFtpSession&, uint64_t /*itemId*/, bool /*done*/) {}
    // The queue changed (from whichever thread changed it; see the file comment).
    virtual void OnQueueChanged(CFtpSession&, const QueueChange& /*change*/) {}
    // A file transfer started, and the same transfer ended with `result` (a result code)
    // after `bytesMoved` bytes in this attempt.
    virtual void OnTransferStarted(CFtpSession&, const TransferInfo&) {}
    virtual void OnTransferFinished(CFtpSession&, const TransferInfo&, int /*result*/,
                                    uint64_t /*bytesMoved*/) {}
    // A queue run ended (also one cut by a lost connection that will go on after the
    // reconnect: CFtpSession::QueueRunPending() tells).
    virtual void OnQueueFinished(CFtpSession&) {}
    virtual void OnRefresh(CFtpSession&) {}  // the remote pane should list again
    // A queued download asked to be opened once it arrived: with the desktop's program for
    // its type when `viewer` is empty, else with the program `viewer` (the "ViewerPath"
    // setting) given `path` as its one argument. The front end starts it; the worker does
    // not wait for it.
    virtual void OnOpenFile(CFtpSession&, const std::string& /*path*/,
                            const std::string& /*viewer*/) {}
    virtual void OnLoginMessage(CFtpSession&, const std::string& /*text*/) {}
    virtual void OnShowSession(CFtpSession&) {}  // bring the session's tab to the front
    // A failure notice for the message window (e.g. "Control connection closed by server.").
    virtual void OnNotice(CFtpSession&, const std::string& /*text*/) {}
    virtual void OnConnectionStateChanged(CFtpSession&, bool /*connected*/) {}
    // Every command the worker takes is reported once with its result code, also one refused
    // while offline (1). CmdConnect is reported when a connect ends: 0 logged in and the
    // start directory listed, the first failure of PWD, CWD or LIST after login (1; the
    // session is online all the same), 2 interrupted, 4 closed by the server meanwhile, 5
    // gave up; reconnects the worker starts by itself (keep-alive) are reported the same way.
    // `request` is what PostCommand returned (0 for the session's own commands: the connect
    // at start, keep-alive reconnects, anti-idle commands). Every accepted command is
    // reported exactly once: one the worker could not run because it turned busy meanwhile,
    // or because it ended first, finishes with kResultRefused.
    virtual void OnCommandFinished(CFtpSession&, RequestId /*request*/, int /*commandCode*/,
                                   int /*result*/) {}

    // A question of the worker. Answer it (now, or later from any thread) through the
    // question; one left unanswered is cancelled with its safe default when the session
    // stops. The default answers at once with the safe default.
    virtual void OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) {
        question->Cancel();
    }
};

}  // namespace tarnwick
