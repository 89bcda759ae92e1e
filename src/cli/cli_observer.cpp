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

}  // namespace

CliObserver::CliObserver(Console& console, ObserverOptions options)
    : console_(console), options_(options) {}

void CliObserver::ExpectCommand() {
    std::lock_guard lock(mutex_);
    finished_.clear();
}

CliObserver::Wake CliObserver::WaitForCommandFinished(int code, Clock::time_point deadline) {
    return WaitForCommandFinished({code}, deadline);
}

CliObserver::Wake CliObserver::WaitForCommandFinished(std::initializer_list<int> codes,
                                                      Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    Wake wake;
    const auto ready = [&] {
        if (interruptRequests_ > 0) {
            --interruptRequests_;
            wake.kind = Wake::kInterrupt;
            return true;
        }
        while (!finished_.empty()) {
            const auto [finishedCode, result] = finished_.front();
            finished_.pop_front();
            if (std::find(codes.begin(), codes.end(), finishedCode) != codes.end()) {
                wake = {Wake::kFinished, finishedCode, result};
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

std::shared_ptr<const FileEntryList> CliObserver::LastListing() const {
    std::lock_guard lock(mutex_);
    return lastListing_;
}

std::string CliObserver::LastReplyLine() const {
    std::lock_guard lock(mutex_);
    std::string_view text = replyText_;
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

CliObserver::TransferTally CliObserver::Tally() const {
    std::lock_guard lock(mutex_);
    return tally_;
}

void CliObserver::ResetTally() {
    std::lock_guard lock(mutex_);
    tally_ = {};
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

void CliObserver::OnLog(CFtpSession& session, const LogRecord& record) {
    RememberReply(record);
    CountTransfers(session, record);
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
    if (record.kind != LOG_REPLY) return;
    std::lock_guard lock(mutex_);
    // A reply's first chunk carries the prefix; later chunks continue it.
    if (record.prefix) replyText_.clear();
    replyText_ += record.text;
}

// The engine tells no one which file of a queue run it is moving; its log does. A file's
// bytes are final when the server answers its transfer (the 226 comes after the data), and
// the next file's counter is reset only after that, before its own commands.
void CliObserver::CountTransfers(const CFtpSession& session, const LogRecord& record) {
    if (record.kind != LOG_COMMAND && record.kind != LOG_REPLY) return;
    std::lock_guard lock(mutex_);
    if (record.kind == LOG_REPLY) {
        if (tally_.transferring) tally_.lastFileBytes = session.bytesDone;
        return;
    }
    tally_.transferring = false;
    const std::string_view text = record.text;
    if (!text.starts_with("retr ") && !text.starts_with("stor ")) return;
    tally_.finishedBytes += tally_.lastFileBytes;
    tally_.lastFileBytes = 0;
    ++tally_.filesStarted;
    tally_.transferring = true;
    tally_.currentFile = LastComponent(TrimLine(text.substr(5)));
}

void CliObserver::OnListing(CFtpSession&, bool done, const ListingInfo& listing) {
    if (!done || !listing.entries) return;
    std::lock_guard lock(mutex_);
    lastListing_ = listing.entries;
}

void CliObserver::OnNotice(CFtpSession&, const std::string& text) {
    if (!options_.quiet) console_.WriteLine(TerminalText(text));
}

void CliObserver::OnConnectionStateChanged(CFtpSession&, bool connected) {
    {
        std::lock_guard lock(mutex_);
        connected_ = connected;
    }
    changed_.notify_all();
}

void CliObserver::OnCommandFinished(CFtpSession&, RequestId, int commandCode, int result) {
    {
        std::lock_guard lock(mutex_);
        finished_.emplace_back(commandCode, result);
    }
    changed_.notify_all();
}

void CliObserver::OnQuestion(CFtpSession&, const std::shared_ptr<Question>& question) {
    if (question->kind == Question::Kind::kAsk) {
        question->Answer(AnswerAsk(question->text, question->style));
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
