#include "cli_session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tarnwick::cli {

namespace {

using Clock = CliObserver::Clock;
using Awaited = CliObserver::Awaited;

// A polite goodbye must not hold the user up for long.
constexpr auto kQuitWait = std::chrono::seconds(10);
constexpr auto kSessionEndWait = std::chrono::seconds(5);
// Beyond the session's longest own wait, before it counts as stuck; and how often the main
// thread looks at its moved bytes meanwhile.
constexpr auto kSilenceMargin = std::chrono::seconds(15);
constexpr auto kLookInterval = std::chrono::seconds(1);

}  // namespace

CliSession::CliSession(const SiteSetting& site, AppSettingsSnapshot settings, CliObserver& observer,
                       std::optional<int> timeout, bool listAtStart)
    : observer_(observer), session_(site, std::move(settings), observer) {
    if (timeout) session_.SetDefaultTimeout(*timeout);
    // The certificates the graphical client remembered; this program never adds any.
    session_.SetTrustStore(TrustStore::OfProgramHome(TrustStore::Access::kReadOnly));
    session_.SetListAtStart(listAtStart);
}

CliSession::~CliSession() {
    Close();
}

int CliSession::Connect() {
    observer_.ExpectCommand();
    if (!session_.StartWorker()) {
        observer_.ReportError("Unable to create thread!");
        return lastResult_ = kResultFailed;
    }
    // StartWorker posts the connect itself: its request id is not ours to know.
    return lastResult_ = AwaitAny({{CliObserver::kAnyRequest, CmdConnect}}).result;
}

RequestId CliSession::Post(const SessionCommand& command) {
    observer_.ExpectCommand();
    const RequestId request = session_.PostCommand(command);
    // The worker is idle between the commands of this client, which posts nothing while a
    // command or a queue run is under way; a refusal is a fault to report, not to wait for.
    if (request == 0) observer_.ReportError("The session is busy.");
    return request;
}

int CliSession::Run(const SessionCommand& command) {
    if (interrupted_) return kResultInterrupted;
    const RequestId request = Post(command);
    if (request == 0) return lastResult_ = kResultRefused;
    return lastResult_ = AwaitAny({{request, command.code}}).result;
}

int CliSession::RunQueue() {
    if (interrupted_) return kResultInterrupted;
    if (session_.queue.Empty()) return lastResult_ = kResultOk;
    SessionCommand run;
    run.code = CmdRunQueue;
    const RequestId request = Post(run);
    if (request == 0) return lastResult_ = kResultRefused;
    // After a reconnect the worker posts the run again itself, under a request of its own.
    RequestId awaited = request;
    while (true) {
        const CliObserver::Wake wake =
            AwaitAny({{awaited, CmdRunQueue}, {CliObserver::kAnyRequest, CmdConnect}});
        lastResult_ = wake.result;
        if (wake.kind != CliObserver::Wake::kFinished) break;
        if (wake.code == CmdConnect) {
            if (wake.result != kResultOk) break;
            awaited = CliObserver::kAnyRequest;
            continue;
        }
        const bool resumes = wake.result == kResultConnectionClosed && session_.QueueRunPending() &&
                             !session_.queue.Empty();
        if (resumes) continue;
        if (wake.result == kResultOk && !session_.queue.Empty()) lastResult_ = kResultFailed;
        break;
    }
    return lastResult_;
}

CliObserver::Wake CliSession::AwaitAny(std::initializer_list<Awaited> awaited) {
    uint64_t lastBytes = session_.bytesDone;
    Clock::time_point lastSign = Clock::now();
    while (true) {
        const CliObserver::Wake wake =
            observer_.WaitForCommandFinished(awaited, Clock::now() + kLookInterval);
        if (wake.kind == CliObserver::Wake::kFinished) {
            const bool stoppedForSilence = stopSent_ && !interrupted_;
            if (stoppedForSilence && wake.result == kResultInterrupted) {
                return {wake.kind, wake.code, kResultTimedOut};
            }
            return wake;
        }
        if (wake.kind == CliObserver::Wake::kDeadline) {
            if (!Silent(lastBytes, lastSign)) continue;
            if (stopSent_) GiveUpOnStuckSession();
            // Stopped for its silence: what the command then reports is a timeout.
            observer_.ReportError("Operation timed out");
            stopSent_ = true;
            session_.Stop();
            lastSign = Clock::now();
            continue;
        }
        // An interruption. A busy session is stopped the GUI's way and reports "Interrupted
        // by user" itself; between the steps of its start-up it is not busy and Stop would do
        // nothing, and a second interruption must not wait any longer.
        if (!interrupted_ && session_.IsBusy()) {
            interrupted_ = true;
            session_.Stop();
            continue;
        }
        if (!interrupted_) observer_.ReportError("Interrupted by user");
        interrupted_ = true;
        return {CliObserver::Wake::kInterrupt, 0, kResultInterrupted};
    }
}

Clock::duration CliSession::SilenceLimit() const {
    const int timeout = session_.DefaultTimeout();
    const int retryDelay = session_.Settings()->retryDelay;
    return std::chrono::seconds(std::max({timeout, retryDelay, 0})) + kSilenceMargin;
}

bool CliSession::Silent(uint64_t& lastBytes, Clock::time_point& lastSign) const {
    const uint64_t bytes = session_.bytesDone;
    if (bytes != lastBytes) {
        lastBytes = bytes;
        lastSign = Clock::now();
    }
    const Clock::time_point since = std::max(lastSign, observer_.LastActivity());
    return Clock::now() - since > SilenceLimit();
}

void CliSession::GiveUpOnStuckSession() {
    // The worker answers neither its deadlines nor Stop: waiting for it to end would hang
    // the client for good. What it wrote so far stays (a partial file can be resumed).
    observer_.ReportError("The session does not answer; giving up.");
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(kResultTimedOut);
}

void CliSession::Close() {
    if (!session_.HasWorker()) return;
    const bool goodbye = session_.connected && !interrupted_ && !stopSent_ &&
                         lastResult_ != kResultTimedOut && lastResult_ != kResultConnectionClosed;
    if (goodbye) {
        SessionCommand quit;
        quit.code = CmdQuit;
        observer_.ExpectCommand();
        if (const RequestId request = session_.PostCommand(quit); request != 0) {
            const CliObserver::Wake wake =
                observer_.WaitForCommandFinished({{request, CmdQuit}}, Clock::now() + kQuitWait);
            if (wake.kind == CliObserver::Wake::kFinished) {
                observer_.WaitForDisconnected(Clock::now() + kSessionEndWait);
            }
        }
    }
    session_.StopWorker();
}

}  // namespace tarnwick::cli
