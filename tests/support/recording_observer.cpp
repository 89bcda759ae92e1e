#include "recording_observer.h"

#include "session/ftp_session.h"

#include <algorithm>

namespace tarnwick::test {

int ObserverRecord::CountLog(const std::string& text) const {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const LogRecord& r) { return r.text == text; }));
}

int ObserverRecord::FindLog(const std::string& text, size_t from) const {
    for (size_t i = from; i < log.size(); ++i) {
        if (log[i].text == text) return static_cast<int>(i);
    }
    return -1;
}

void RecordingObserver::AnswerQuestion(const std::string& textPart, int answer, int times) {
    std::lock_guard lock(mutex);
    rules.push_back({textPart, answer, times});
}

void RecordingObserver::SetOverwriteAnswer(const OverwriteAnswer& answer) {
    std::lock_guard lock(mutex);
    overwriteAnswer = answer;
}

void RecordingObserver::HoldQuestions() {
    std::lock_guard lock(mutex);
    holdQuestions = true;
}

ObserverRecord RecordingObserver::Snapshot() const {
    std::lock_guard lock(mutex);
    return record;
}

std::vector<std::string> RecordingObserver::LogTexts() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> texts;
    texts.reserve(record.log.size());
    for (const LogRecord& r : record.log) texts.push_back(r.text);
    return texts;
}

std::string RecordingObserver::FormattedLog() const {
    std::lock_guard lock(mutex);
    std::string out;
    for (const LogRecord& r : record.log) {
        if (r.prefix) out += LogPrefix(r.kind);
        out += r.text;
        if (r.newline) out += "\n";
    }
    return out;
}

void RecordingObserver::Clear() {
    std::lock_guard lock(mutex);
    record = ObserverRecord{};
    consumedFinishes.clear();
}

bool RecordingObserver::WaitUntil(const std::function<bool(const ObserverRecord&)>& condition,
                                  Duration timeout) const {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return condition(record); });
}

std::optional<int> RecordingObserver::WaitForCommandFinished(int code, Duration timeout) {
    std::unique_lock lock(mutex);
    std::optional<int> result;
    changed.wait_for(lock, timeout, [&] {
        for (size_t i = 0; i < record.commandsFinished.size(); ++i) {
            if (record.commandsFinished[i].code == code && !consumedFinishes[i]) {
                consumedFinishes[i] = true;
                result = record.commandsFinished[i].result;
                return true;
            }
        }
        return false;
    });
    return result;
}

bool RecordingObserver::WaitForLogLine(const std::string& text, Duration timeout) const {
    return WaitForLogCount(text, 1, timeout);
}

bool RecordingObserver::WaitForLogCount(const std::string& text, int count,
                                        Duration timeout) const {
    return WaitUntil([&](const ObserverRecord& r) { return r.CountLog(text) >= count; }, timeout);
}

bool RecordingObserver::WaitForQuestions(size_t count, Duration timeout) const {
    return WaitUntil([&](const ObserverRecord& r) { return r.questions.size() >= count; }, timeout);
}

template <typename Change>
void RecordingObserver::Record(Change change) {
    {
        std::lock_guard lock(mutex);
        change(record);
        consumedFinishes.resize(record.commandsFinished.size(), false);
    }
    changed.notify_all();
}

void RecordingObserver::OnLog(CFtpSession&, const LogRecord& line) {
    Record([&](ObserverRecord& r) { r.log.push_back(line); });
}

void RecordingObserver::OnDirectoryChanged(CFtpSession&, const std::string& directory) {
    Record([&](ObserverRecord& r) { r.directories.push_back(directory); });
}

void RecordingObserver::OnListing(CFtpSession&, bool done, const ListingInfo& listing) {
    Record([&](ObserverRecord& r) {
        r.listings.push_back(
            {done, listing.directory, listing.entries ? *listing.entries : FileEntryList{}});
    });
}

void RecordingObserver::OnQueueItemStarted(CFtpSession& session, uint64_t itemId, bool done) {
    const uint64_t current = session.currentItemId;
    Record([&](ObserverRecord& r) { r.itemsStarted.push_back({itemId, done, current}); });
}

void RecordingObserver::OnQueueChanged(CFtpSession&, const QueueChange& change) {
    Record([&](ObserverRecord& r) { r.queueChanges.push_back(change); });
}

void RecordingObserver::OnTransferStarted(CFtpSession&, const TransferInfo& info) {
    Record([&](ObserverRecord& r) { r.transfers.push_back({false, info, 0, 0}); });
}

void RecordingObserver::OnTransferFinished(CFtpSession&, const TransferInfo& info, int result,
                                           uint64_t bytesMoved) {
    Record([&](ObserverRecord& r) { r.transfers.push_back({true, info, result, bytesMoved}); });
}

void RecordingObserver::OnQueueFinished(CFtpSession&) {
    Record([](ObserverRecord& r) { ++r.queueFinished; });
}

void RecordingObserver::OnRefresh(CFtpSession&) {
    Record([](ObserverRecord& r) { ++r.refreshes; });
}

void RecordingObserver::OnLoginMessage(CFtpSession&, const std::string& text) {
    Record([&](ObserverRecord& r) { r.loginMessages.push_back(text); });
}

void RecordingObserver::OnShowSession(CFtpSession&) {
    Record([](ObserverRecord& r) { ++r.showSession; });
}

void RecordingObserver::OnNotice(CFtpSession&, const std::string& text) {
    Record([&](ObserverRecord& r) { r.notices.push_back(text); });
}

void RecordingObserver::OnConnectionStateChanged(CFtpSession&, bool connected) {
    Record([&](ObserverRecord& r) { r.connectionStates.push_back(connected); });
}

void RecordingObserver::OnCommandFinished(CFtpSession&, RequestId request, int commandCode,
                                          int result) {
    Record([&](ObserverRecord& r) {
        r.commandsFinished.push_back({request, commandCode, result});
    });
}

int RecordingObserver::ScriptedAnswer(const std::string& text) {
    for (AnswerRule& rule : rules) {
        if (rule.times == 0 || text.find(rule.textPart) == std::string::npos) continue;
        if (rule.times > 0) --rule.times;
        return rule.answer;
    }
    return kAnswerCancel;
}

void RecordingObserver::OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) {
    if (question->kind == Question::Kind::kAsk) {
        int answer = 0;
        bool hold = false;
        Record([&](ObserverRecord& r) {
            answer = ScriptedAnswer(question->text);
            r.questions.push_back({question->text, question->style, answer});
            hold = holdQuestions;
            if (hold) r.heldQuestions.push_back(question);
        });
        if (hold) return;
        question->Answer(answer);
        return;
    }
    OverwriteAnswer answer;
    Record([&](ObserverRecord& r) {
        r.overwriteQuestions.push_back(question->overwrite);
        answer = overwriteAnswer.value_or(OverwriteAnswer{question->overwrite.suggested, false});
    });
    question->Answer(answer);
}

}  // namespace tarnwick::test
