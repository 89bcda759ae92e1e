// A question the worker asks its front end: a message box (Ask) or the overwrite
// confirmation. The worker creates it, hands it to SessionObserver::OnQuestion and waits;
// the front end answers it once, from any thread, at any time. Whatever comes first wins:
// the front end's answer, or Cancel with the safe default (Stop, Disconnect, Close, the end
// of the worker). Later answers are ignored, so a dialog that outlives its question is
// harmless.
//
// Threads: every member may be called from any thread. Ownership: shared between the worker
// and the front end (std::shared_ptr); either may let go first.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event.h"

namespace tarnwick {

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

// A server certificate that did not verify, shown to the user to accept or refuse. Texts as
// the TLS library writes them; times in UTC ("2026-12-07 11:53:00 UTC").
struct CertificateQuestion {
    std::string host;  // as the user wrote it
    int port = 0;
    std::string subject;  // one line, "CN=example.org, O=Example"
    std::string issuer;
    std::string validFrom;
    std::string validUntil;
    std::string fingerprint;  // SHA-256, upper-case hex pairs joined by ':'
    std::string reason;       // why it did not verify: "self-signed certificate", ...
};

class Question {
public:
    enum class Kind { kAsk, kOverwrite, kCertificate };

    // A message box: `text` with the session's host address as caption, buttons by `style`.
    Question(std::string text, int style);
    // The overwrite confirmation.
    explicit Question(const OverwriteQuestion& overwrite);
    // Whether to trust a certificate: answered kAnswerYes (trust it and remember it for the
    // host) or kAnswerNo (the default of Cancel).
    explicit Question(const CertificateQuestion& certificate);
    Question(const Question&) = delete;
    Question& operator=(const Question&) = delete;

    const Kind kind;
    const std::string text;                 // kAsk; for kCertificate its details as text
    const int style = 0;                    // kAsk
    const OverwriteQuestion overwrite;      // kOverwrite
    const CertificateQuestion certificate;  // kCertificate

    // The front end's answer: an AskAnswer for kAsk, an OverwriteAnswer for kOverwrite.
    // False when the question had been answered or cancelled already.
    bool Answer(int answer);
    bool Answer(const OverwriteAnswer& answer);
    // Answers with the safe default: Cancel (No for a Yes/No box) for kAsk, Skip (not for
    // all) for kOverwrite, No for kCertificate. False when it had been answered already.
    bool Cancel();

    bool Answered() const;
    // Signalled (manual reset) once the question is answered: the worker waits for it.
    platform::Waitable& AnsweredEvent() { return answeredEvent; }
    // The answer given (valid once Answered()).
    int AskResult() const;
    OverwriteAnswer OverwriteResult() const;

private:
    bool Settle(int askAnswer, const OverwriteAnswer& overwriteAnswer);

    mutable std::mutex mutex;
    bool answered = false;
    int askAnswer = kAnswerCancel;
    OverwriteAnswer overwriteAnswer{kSkip, false};
    platform::Event answeredEvent{platform::Event::kManualReset};
};

}  // namespace tarnwick
