// The command-line client's SessionObserver: prints the session log (all of it with -v, the
// error lines otherwise), answers the worker's questions from the options, and hands command
// results, the connection state, the last listing and the last server reply to the main
// thread, which waits for them here.
//
// Threads: the On... calls, Ask and AskOverwrite come from the session's worker; the Wait...
// calls and accessors from the main thread; RequestInterrupt from the interrupt watcher.
// All shared state is under one lock. The console must outlive the observer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "console.h"
#include "session/session_observer.h"

namespace tarnwick::cli {

struct ObserverOptions {
    bool verbose = false;  // every log line, with the log pane's prefixes
    bool quiet = false;    // not even the error lines
    // The answer for an existing target; none: the answer the prompt would preselect.
    std::optional<int> overwrite;
};

class CliObserver : public SessionObserver {
public:
    using Clock = std::chrono::steady_clock;

    CliObserver(Console& console, ObserverOptions options);

    // What ended a wait of the main thread.
    struct Wake {
        enum Kind { kFinished, kInterrupt, kDeadline } kind = kDeadline;
        int code = 0;    // the command that finished, for kFinished
        int result = 0;  // its result, for kFinished
    };

    // The files a queue run has moved so far, as the session's log shows them: every RETR
    // or STOR starts the next file.
    struct TransferTally {
        uint64_t filesStarted = 0;
        bool transferring = false;   // the last file's transfer has not been answered yet
        std::string currentFile;     // the name of the last file started
        uint64_t finishedBytes = 0;  // bytes of the files before the last one
        uint64_t lastFileBytes = 0;  // bytes of the last file when the server last replied
    };

    // [main] Forgets earlier command results; call before posting a command.
    void ExpectCommand();
    // [main] Waits until command `code` (or any of `codes`) finishes, an interrupt is
    // requested (the request is consumed) or the deadline passes.
    Wake WaitForCommandFinished(int code, Clock::time_point deadline = Clock::time_point::max());
    Wake WaitForCommandFinished(std::initializer_list<int> codes,
                                Clock::time_point deadline = Clock::time_point::max());
    // [main] Waits until the control connection is down; false at the deadline.
    bool WaitForDisconnected(Clock::time_point deadline);
    // [main] The text of the last listing that completed; the last reply line received.
    std::shared_ptr<const FileEntryList> LastListing() const;  // never null
    std::string LastReplyLine() const;
    // [any thread] The transfer tally since the last ResetTally().
    TransferTally Tally() const;
    void ResetTally();

    // [any thread] Ctrl-C: wakes the main thread's wait.
    void RequestInterrupt();
    // [any thread] An error of the client itself, printed like the session's error lines.
    void ReportError(std::string_view text);

    void OnLog(CFtpSession&, const LogRecord& record) override;
    void OnListing(CFtpSession&, bool done, const ListingInfo& listing) override;
    void OnNotice(CFtpSession&, const std::string& text) override;
    void OnConnectionStateChanged(CFtpSession&, bool connected) override;
    void OnCommandFinished(CFtpSession&, RequestId request, int commandCode,
                           int result) override;
    void OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) override;

private:
    int AnswerAsk(const std::string& text, int style);
    OverwriteAnswer AnswerOverwrite(const OverwriteQuestion& question);
    void RememberReply(const LogRecord& record);
    void CountTransfers(const CFtpSession& session, const LogRecord& record);

    Console& console_;
    const ObserverOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<int, int>> finished_;  // (command code, result), oldest first
    bool connected_ = false;
    int interruptRequests_ = 0;
    std::shared_ptr<const FileEntryList> lastListing_ = std::make_shared<FileEntryList>();
    std::string replyText_;  // the reply being received or last received, as logged
    TransferTally tally_;
};

}  // namespace tarnwick::cli
