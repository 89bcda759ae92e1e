#include "session/question.h"

namespace tarnwick {

Question::Question(std::string text, int style)
    : kind(Kind::kAsk), text(std::move(text)), style(style) {}

Question::Question(const OverwriteQuestion& overwrite)
    : kind(Kind::kOverwrite), overwrite(overwrite) {}

Question::Question(const CertificateQuestion& certificate)
    : kind(Kind::kCertificate), style(kAskYesNo | kAskQuestion), certificate(certificate) {}

bool Question::Answer(int answer) {
    return Settle(answer, OverwriteAnswer{kSkip, false});
}

bool Question::Answer(const OverwriteAnswer& answer) {
    return Settle(kAnswerCancel, answer);
}

bool Question::Cancel() {
    const bool yesNo = (style & 0xF) == kAskYesNo;
    return Settle(yesNo ? kAnswerNo : kAnswerCancel, OverwriteAnswer{kSkip, false});
}

bool Question::Settle(int ask, const OverwriteAnswer& over) {
    std::lock_guard lock(mutex);
    if (answered) return false;
    answered = true;
    askAnswer = ask;
    overwriteAnswer = over;
    // Signalled under the lock, so that no waiter sees the answer before the event is set.
    answeredEvent.Set();
    return true;
}

bool Question::Answered() const {
    std::lock_guard lock(mutex);
    return answered;
}

int Question::AskResult() const {
    std::lock_guard lock(mutex);
    return askAnswer;
}

OverwriteAnswer Question::OverwriteResult() const {
    std::lock_guard lock(mutex);
    return overwriteAnswer;
}

}  // namespace tarnwick
