// RecordingObserver: a SessionObserver for tests. It records every call a session makes,
// answers the session's questions from a small script, and offers bounded waits so a test
// can wait for a condition instead of sleeping.
//
// Threads: the observer calls come from session worker threads; every accessor and wait may
// be called from any thread. All state is guarded by one mutex; accessors return copies.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "queue/transfer_queue.h"
#include "session/session_observer.h"

namespace tarnwick::test {

using std::chrono_literals::operator""ms;
using std::chrono_literals::operator""s;

// Everything recorded so far, in arrival order.
struct ObserverRecord {
    struct Listing {
        std::string directory;
        FileEntryList entries;
    };
    struct CommandFinished {
        RequestId request = 0;
        int code = 0;
        int result = 0;
    };
    // One OnTransferStarted (finished false) or OnTransferFinished (finished true).
    struct Transfer {
        bool finished = false;
        TransferInfo info;
        int result = 0;
        uint64_t bytesMoved = 0;
    };

    std::vector<LogRecord> log;
    std::vector<Listing> listings;
    std::vector<std::string> notices;
    std::vector<std::string> loginMessages;
    std::vector<bool> connectionStates;
    std::vector<CommandFinished> commandsFinished;
    std::vector<std::string> questions;  // the texts of the questions asked
    std::vector<OverwriteQuestion> overwriteQuestions;
    struct ItemStarted {
        uint64_t itemId = 0;
        bool done = false;
        uint64_t currentItemId = 0;  // the session's currentItemId at the call
    };
    std::vector<ItemStarted> itemsStarted;
    std::vector<Transfer> transfers;
    std::vector<std::shared_ptr<tarnwick::Question>> heldQuestions;  // asked, left unanswered
    int showSession = 0;

    // Number of log lines whose text is exactly `text`.
    int CountLog(const std::string& text) const {
        return static_cast<int>(std::count_if(log.begin(), log.end(),
                                              [&](const LogRecord& r) { return r.text == text; }));
    }
};

class RecordingObserver : public SessionObserver {
public:
    using Duration = std::chrono::milliseconds;

    // ---- the script: how questions are answered ----
    // A question whose text contains `textPart` is answered `answer`, `times` times
    // (-1: always). Rules are tried in the order they were added; no match: Cancel.
    void AnswerQuestion(const std::string& textPart, int answer, int times = -1) {
        Locked([&] { rules.push_back({textPart, answer, times}); });
    }
    // AskOverwrite answers `answer` (default: the question's suggested action, no "All").
    void SetOverwriteAnswer(const OverwriteAnswer& answer) {
        Locked([&] { overwriteAnswer = answer; });
    }
    // From now on questions are recorded but left unanswered (heldQuestions), as a dialog
    // nobody has closed yet.
    void HoldQuestions() {
        Locked([&] { holdQuestions = true; });
    }

    // ---- what was recorded ----
    ObserverRecord Snapshot() const {
        return Locked([&] { return record; });
    }
    // The texts of the log lines, of one kind (LOG_WARNING, ...) when `kind` is given.
    std::vector<std::string> LogTexts(std::optional<int> kind = std::nullopt) const {
        std::vector<std::string> texts;
        for (const LogRecord& r : Snapshot().log) {
            if (!kind || r.kind == *kind) texts.push_back(r.text);
        }
        return texts;
    }
    // The log as a log pane would show it (prefixes by kind); for test failure messages.
    std::string FormattedLog() const;
    void Clear() {
        Record([](ObserverRecord& r) { r = {}; });
    }

    // ---- bounded waits; each returns false (or nullopt) when the timeout passes ----
    // Waits until `condition` holds for the record (evaluated under the lock; keep it cheap).
    bool WaitUntil(const std::function<bool(const ObserverRecord&)>& condition,
                   Duration timeout) const {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return condition(record); });
    }
    // The result of the next not yet consumed OnCommandFinished with `code`; consumes it.
    std::optional<int> WaitForCommandFinished(int code, Duration timeout);
    // True once `count` log lines with exactly `text` have been recorded (at any time).
    bool WaitForLogLine(const std::string& text, Duration timeout, int count = 1) const {
        return WaitUntil([&](const ObserverRecord& r) { return r.CountLog(text) >= count; },
                         timeout);
    }

    // ---- SessionObserver ----
    void OnLog(CFtpSession&, const LogRecord& line) override { Push(&ObserverRecord::log, line); }
    void OnListing(CFtpSession&, bool, const ListingInfo& listing) override {
        Push(&ObserverRecord::listings,
             {listing.directory, listing.entries ? *listing.entries : FileEntryList{}});
    }
    void OnQueueItemStarted(CFtpSession& session, uint64_t itemId, bool done) override;
    void OnTransferStarted(CFtpSession&, const TransferInfo& info) override {
        Push(&ObserverRecord::transfers, {false, info, 0, 0});
    }
    void OnTransferFinished(CFtpSession&, const TransferInfo& info, int result,
                            uint64_t bytesMoved) override {
        Push(&ObserverRecord::transfers, {true, info, result, bytesMoved});
    }
    void OnLoginMessage(CFtpSession&, const std::string& text) override {
        Push(&ObserverRecord::loginMessages, text);
    }
    void OnShowSession(CFtpSession&) override {
        Record([](ObserverRecord& r) { ++r.showSession; });
    }
    void OnNotice(CFtpSession&, const std::string& text) override {
        Push(&ObserverRecord::notices, text);
    }
    void OnConnectionStateChanged(CFtpSession&, bool connected) override {
        Push(&ObserverRecord::connectionStates, connected);
    }
    void OnCommandFinished(CFtpSession&, RequestId request, int commandCode, int result) override {
        Push(&ObserverRecord::commandsFinished, {request, commandCode, result});
    }
    void OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) override;

private:
    struct AnswerRule {
        std::string textPart;
        int answer = 0;
        int times = -1;
    };

    template <typename Use>
    std::invoke_result_t<Use> Locked(Use use) const {
        std::lock_guard lock(mutex);
        return use();
    }
    // Applies `change` to the record under the lock and wakes the waiters.
    template <typename Change>
    void Record(Change change) {
        {
            std::lock_guard lock(mutex);
            change(record);
            consumedFinishes.resize(record.commandsFinished.size(), false);
        }
        changed.notify_all();
    }
    template <typename T>
    void Push(std::vector<T> ObserverRecord::*list, T value) {
        Record([&](ObserverRecord& r) { (r.*list).push_back(std::move(value)); });
    }
    int ScriptedAnswer(const std::string& text);  // under the lock

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    ObserverRecord record;
    std::vector<bool> consumedFinishes;
    std::vector<AnswerRule> rules;
    std::optional<OverwriteAnswer> overwriteAnswer;
    bool holdQuestions = false;
};

}  // namespace tarnwick::test
