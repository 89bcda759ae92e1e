// The command-line client's SessionObserver: prints the session log (all of it with -v, the
// error lines otherwise), answers the worker's questions from the options, and hands command
// results, the connection state, the last listing and the last server reply to the main
// thread, which waits for them here. It also counts the files the session moves, from the
// transfer notifications, for the progress line and for the items that failed.
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
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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
    // A finished command a wait is for: `request` as PostCommand returned it, or
    // kAnyRequest for a command the worker posts itself (the connect at start, the queue run
    // it starts again after a reconnect).
    static constexpr RequestId kAnyRequest = ~RequestId{0};
    struct Awaited {
        RequestId request = 0;
        int code = 0;
    };

    // The files the session has moved since the last ResetTally().
    struct TransferTally {
        uint64_t filesStarted = 0;
        uint64_t filesFinished = 0;
        std::string currentFile;     // the name of the file started last
        uint64_t finishedBytes = 0;  // bytes moved by the transfers that ended
    };

    // [main] Forgets earlier command results and server refusals; call before posting.
    void ExpectCommand();
    // [main] Waits until one of `awaited` finishes, an interrupt is requested (the request
    // is consumed) or the deadline passes.
    Wake WaitForCommandFinished(std::initializer_list<Awaited> awaited, Clock::time_point deadline);
    // [main] Waits until the control connection is down; false at the deadline.
    bool WaitForDisconnected(Clock::time_point deadline);
    // [main] The last listing that completed (its entries never null).
    ListingInfo LastListing() const;
    // [main] The last negative (4xx or 5xx) reply line since ExpectCommand(); empty if none.
    std::string LastRefusal() const;
    // [any thread] When the session last reported anything.
    Clock::time_point LastActivity() const;
    // [any thread] The transfer tally since the last ResetTally(), and the result of the
    // last failed transfer of queue item `itemId` (0 when none failed).
    TransferTally Tally() const;
    int FailedTransferResult(uint64_t itemId) const;
    void ResetTally();

    // [any thread] Ctrl-C: wakes the main thread's wait.
    void RequestInterrupt();
    // [any thread] An error of the client itself, printed like the session's error lines.
    void ReportError(std::string_view text);

    void OnLog(CFtpSession&, const LogRecord& record) override;
    void OnListing(CFtpSession&, bool done, const ListingInfo& listing) override;
    void OnTransferStarted(CFtpSession&, const TransferInfo& transfer) override;
    void OnTransferFinished(CFtpSession&, const TransferInfo& transfer, int result,
                            uint64_t bytesMoved) override;
    void OnNotice(CFtpSession&, const std::string& text) override;
    void OnConnectionStateChanged(CFtpSession&, bool connected) override;
    void OnCommandFinished(CFtpSession&, RequestId request, int commandCode, int result) override;
    void OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) override;

private:
    struct Finished {
        RequestId request;
        int code;
        int result;
    };

    int AnswerAsk(const std::string& text, int style);
    OverwriteAnswer AnswerOverwrite(const OverwriteQuestion& question);
    void RememberReply(const LogRecord& record);
    void Touch();  // with mutex_ held

    Console& console_;
    const ObserverOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Finished> finished_;  // oldest first
    bool connected_ = false;
    int interruptRequests_ = 0;
    ListingInfo lastListing_{"", std::make_shared<FileEntryList>()};
    std::string replyText_;  // the reply being received or last received, as logged
    std::string refusal_;    // the last negative reply line since ExpectCommand()
    Clock::time_point lastActivity_ = Clock::now();
    TransferTally tally_;
    std::map<uint64_t, int> failedItems_;  // queue item id -> result of its last failure
};

}  // namespace tarnwick::cli
