#include "recording_observer.h"

#include "session/ftp_session.h"

namespace tarnwick::test {

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

void RecordingObserver::OnQueueItemStarted(CFtpSession& session, uint64_t itemId, bool done) {
    const uint64_t current = session.currentItemId;
    Record([&](ObserverRecord& r) { r.itemsStarted.push_back({itemId, done, current}); });
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
            r.questions.push_back(question->text);
            hold = holdQuestions;
            if (hold) r.heldQuestions.push_back(question);
        });
        if (!hold) question->Answer(answer);
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
