#include "cli_observer.h"

#include <algorithm>

#include "listing/paths.h"
#include "session/ftp_session.h"

namespace tarnwick::cli {

namespace {

// The log view's line handling, for a terminal: "\r\r" becomes "\r" as in the log pane, and
// the server's CR LF a plain line feed.
std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() &&
            (text[i + 1] == '\r' || text[i + 1] == '\n')) {
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string_view TrimLine(std::string_view line) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

// The last non-blank line of a reply as logged.
std::string LastLine(std::string_view text) {
    while (!text.empty()) {
        const size_t end = text.find_last_not_of("\r\n");
        if (end == std::string_view::npos) break;
        text = text.substr(0, end + 1);
        const size_t start = text.rfind('\n');
        std::string_view line =
            TrimLine(start == std::string_view::npos ? text : text.substr(start + 1));
        if (!line.empty()) return std::string(line);
        text = start == std::string_view::npos ? std::string_view{} : text.substr(0, start);
    }
    return {};
}

}  // namespace

CliObserver::CliObserver(Console& console, ObserverOptions options)
    : console_(console), options_(options) {}

void CliObserver::ExpectCommand() {
    std::lock_guard lock(mutex_);
    finished_.clear();
    refusal_.clear();
}

CliObserver::Wake CliObserver::WaitForCommandFinished(std::initializer_list<Awaited> awaited,
                                                      Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    Wake wake;
    const auto wanted = [&](const Finished& finished) {
        return std::ranges::any_of(awaited, [&](const Awaited& each) {
            return each.code == finished.code &&
                   (each.request == kAnyRequest || each.request == finished.request);
        });
    };
    const auto ready = [&] {
        if (interruptRequests_ > 0) {
            --interruptRequests_;
            wake.kind = Wake::kInterrupt;
            return true;
        }
        while (!finished_.empty()) {
            const Finished finished = finished_.front();
            finished_.pop_front();
            if (wanted(finished)) {
                wake = {Wake::kFinished, finished.code, finished.result};
                return true;
            }
        }
        return false;
    };
    if (!changed_.wait_until(lock, deadline, ready)) wake.kind = Wake::kDeadline;
    return wake;
}

bool CliObserver::WaitForDisconnected(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [this] { return !connected_; });
}

ListingInfo CliObserver::LastListing() const {
    std::lock_guard lock(mutex_);
    return lastListing_;
}

std::string CliObserver::LastRefusal() const {
    std::lock_guard lock(mutex_);
    return refusal_;
}

CliObserver::Clock::time_point CliObserver::LastActivity() const {
    std::lock_guard lock(mutex_);
    return lastActivity_;
}

CliObserver::TransferTally CliObserver::Tally() const {
    std::lock_guard lock(mutex_);
    return tally_;
}

int CliObserver::FailedTransferResult(uint64_t itemId) const {
    std::lock_guard lock(mutex_);
    const auto found = failedItems_.find(itemId);
    return found == failedItems_.end() ? kResultOk : found->second;
}

void CliObserver::ResetTally() {
    std::lock_guard lock(mutex_);
    tally_ = {};
    failedItems_.clear();
}

void CliObserver::Touch() {
    lastActivity_ = Clock::now();
}

void CliObserver::RequestInterrupt() {
    {
        std::lock_guard lock(mutex_);
        ++interruptRequests_;
    }
    changed_.notify_all();
}

void CliObserver::ReportError(std::string_view text) {
    if (!options_.quiet) console_.WriteLine(std::string(LogPrefix(LOG_ERROR)) + std::string(text));
}

void CliObserver::OnLog(CFtpSession&, const LogRecord& record) {
    RememberReply(record);
    const std::string_view prefix = record.prefix ? LogPrefix(record.kind) : std::string_view{};
    if (options_.verbose) {
        std::string line(prefix);
        line += TerminalText(record.text);
        if (record.newline) line += '\n';
        console_.Write(line);
    } else if (record.kind == LOG_ERROR && !options_.quiet) {
        console_.WriteLine(std::string(prefix) + TerminalText(record.text));
    }
}

void CliObserver::RememberReply(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    Touch();
    if (record.kind != LOG_REPLY) return;
    // A reply's first chunk carries the prefix; later chunks continue it.
    if (record.prefix) replyText_.clear();
    replyText_ += record.text;
    const std::string line = LastLine(replyText_);
    if (line.starts_with('4') || line.starts_with('5')) refusal_ = line;
}

void CliObserver::OnListing(CFtpSession&, bool done, const ListingInfo& listing) {
    std::lock_guard lock(mutex_);
    Touch();
    if (done && listing.entries) lastListing_ = listing;
}

void CliObserver::OnTransferStarted(CFtpSession&, const TransferInfo& transfer) {
    std::lock_guard lock(mutex_);
    Touch();
    ++tally_.filesStarted;
    tally_.currentFile = LastComponent(transfer.remotePath);
}

void CliObserver::OnTransferFinished(CFtpSession&, const TransferInfo& transfer, int result,
                                     uint64_t bytesMoved) {
    std::lock_guard lock(mutex_);
    Touch();
    ++tally_.filesFinished;
    tally_.finishedBytes += bytesMoved;
    if (transfer.itemId == 0) return;
    if (result == kResultOk) {
        failedItems_.erase(transfer.itemId);
    } else {
        failedItems_[transfer.itemId] = result;
    }
}

void CliObserver::OnNotice(CFtpSession&, const std::string& text) {
    if (!options_.quiet) console_.WriteLine(TerminalText(text));
}

void CliObserver::OnConnectionStateChanged(CFtpSession&, bool connected) {
    {
        std::lock_guard lock(mutex_);
        Touch();
        connected_ = connected;
    }
    changed_.notify_all();
}

void CliObserver::OnCommandFinished(CFtpSession&, RequestId request, int commandCode, int result) {
    {
        std::lock_guard lock(mutex_);
        Touch();
        finished_.push_back({request, commandCode, result});
    }
    changed_.notify_all();
}

void CliObserver::OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) {
    if (question->kind == Question::Kind::kAsk) {
        question->Answer(AnswerAsk(question->text, question->style));
    } else if (question->kind == Question::Kind::kCertificate) {
        // Only --trust-fingerprint or --insecure trust a certificate that does not verify.
        question->Cancel();
    } else {
        question->Answer(AnswerOverwrite(question->overwrite));
    }
}

int CliObserver::AnswerAsk(const std::string& text, int style) {
    // No one to ask: the client goes along with the worker (the online prompt reconnects).
    const bool yesNo = (style & 0xf) == kAskYesNo || (style & 0xf) == kAskYesNoCancel;
    const int answer = yesNo ? kAnswerYes : kAnswerOk;
    if (options_.verbose) {
        console_.WriteLine(TerminalText(text) + " -> " + (yesNo ? "Yes" : "OK"));
    }
    return answer;
}

OverwriteAnswer CliObserver::AnswerOverwrite(const OverwriteQuestion& question) {
    int action = options_.overwrite.value_or(question.suggested);
    if (action == kResume && !question.resumeAllowed) action = kOverwrite;
    // "All": the same answer for every later file of the same case.
    return {action, true};
}

}  // namespace tarnwick::cli
