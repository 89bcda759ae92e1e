// How a session reports to its front end (the GUI marshals each call onto its own thread; the
// command-line client prints). Calls come from the session's worker thread, with two
// exceptions: OnQueueChanged comes from whichever thread changed the queue (the front end's
// own changes included), and the calls of a partner session driven by a site-to-site queue
// item come from the worker of the session running that item.
//
// Informative calls carry copies of their data and must return promptly: the worker never
// waits on the front end for them. Questions (Ask, AskOverwrite) block the worker until the
// front end answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

class CFtpSession;

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

// The message-box styles and answers the worker's questions use (values as the Windows ones,
// so stored and logged numbers stay meaningful).
enum AskStyle : int {
    kAskOkCancel = 0x1,
    kAskYesNoCancel = 0x3,
    kAskYesNo = 0x4,
    kAskQuestion = 0x20
};
enum AskAnswer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

// Overwrite decisions: 0 Skip, 1 Resume, 2 Overwrite, 3 Auto.
enum OverwriteAction : int { kSkip = 0, kResume = 1, kOverwrite = 2, kAuto = 3 };

struct OverwriteQuestion {
    std::string fileName;
    bool upload = false;
    uint64_t sourceSize = 0;
    int64_t sourceTime = 0;
    uint64_t targetSize = 0;
    int64_t targetTime = 0;
    int suggested = kAuto;   // preselected action
    int autoAction = kSkip;  // what "Auto" stands for in this case
    bool resumeAllowed = true;
};

struct OverwriteAnswer {
    int action = kAuto;  // 0..3; 3 means the question's autoAction
    bool all = false;    // remember for every later file of the same case
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // Informative.
    virtual void OnLog(CFtpSession&, const LogRecord&) {}
    virtual void OnDirectoryChanged(CFtpSession&, const std::string& /*directory*/) {}
    // A listing started (done false) or is done and cached (done true, with its text).
    virtual void OnListing(CFtpSession&, bool /*done*/, const std::string& /*listingText*/) {}
    virtual void OnQueueItemStarted(CFtpSession&, int /*row*/, bool /*done*/) {}
    virtual void OnQueueChanged(CFtpSession&) {}
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
    // while offline (1). CmdConnect is reported when a connect ends: 0 logged in (and the
    // start directory listed), 2 interrupted, 4 closed by the server meanwhile, 5 gave up;
    // reconnects the worker starts by itself (keep-alive) are reported the same way.
    // A command dropped because the session was busy is not reported (PostCommand said so).
    virtual void OnCommandFinished(CFtpSession&, int /*commandCode*/, int /*result*/) {}

    // Questions: block the worker until answered. `text` and the session's host address make
    // the message box; the return value is an AskAnswer.
    virtual int Ask(CFtpSession&, const std::string& /*text*/, int /*style*/) {
        return kAnswerCancel;
    }
    virtual OverwriteAnswer AskOverwrite(CFtpSession&, const OverwriteQuestion& q) {
        return {q.suggested, false};
    }
};

}  // namespace tarnwick
