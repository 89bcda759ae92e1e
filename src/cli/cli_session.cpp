#include "cli_session.h"

namespace tarnwick::cli {

namespace {

// A polite goodbye must not hold the user up for long.
constexpr auto kQuitWait = std::chrono::seconds(10);
constexpr auto kSessionEndWait = std::chrono::seconds(5);

}  // namespace

CliSession::CliSession(const SiteSetting& site, AppSettingsSnapshot settings, CliObserver& observer,
                       std::optional<int> timeout)
    : observer_(observer), session_(site, std::move(settings), observer) {
    if (timeout) session_.SetDefaultTimeout(*timeout);
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
    return lastResult_ = Await(CmdConnect);
}

int CliSession::Run(const SessionCommand& command) {
    if (interrupted_) return kResultInterrupted;
    observer_.ExpectCommand();
    if (!session_.PostCommand(command)) {
        // The worker is idle between the commands of this client, which posts nothing while
        // a command or a queue run is under way.
        observer_.ReportError("The session is busy.");
        return lastResult_ = kResultFailed;
    }
    return lastResult_ = Await(command.code);
}

int CliSession::RunQueue() {
    if (interrupted_) return kResultInterrupted;
    if (session_.queue.Empty()) return lastResult_ = kResultOk;
    observer_.ExpectCommand();
    if (!session_.StartQueue()) {
        observer_.ReportError("Unable to create thread!");
        return lastResult_ = kResultFailed;
    }
    while (true) {
        const CliObserver::Wake wake = AwaitAny({CmdRunQueue, CmdConnect});
        lastResult_ = wake.result;
        if (wake.kind != CliObserver::Wake::kFinished) break;
        if (wake.code == CmdConnect) {
            // A reconnect after a lost connection; the worker runs the queue again itself.
            if (wake.result != kResultOk) break;
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

int CliSession::Await(int code) {
    const CliObserver::Wake wake = AwaitAny({code});
    return wake.result;
}

CliObserver::Wake CliSession::AwaitAny(std::initializer_list<int> codes) {
    while (true) {
        const CliObserver::Wake wake = observer_.WaitForCommandFinished(codes);
        if (wake.kind == CliObserver::Wake::kFinished) return wake;
        // Ctrl-C. A busy session is stopped the GUI's way and reports "Interrupted by user"
        // itself; between the steps of its start-up it is not busy and Stop would do
        // nothing, and a second Ctrl-C must not wait any longer.
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

void CliSession::Close() {
    if (!session_.HasWorker()) return;
    const bool goodbye = session_.connected && !interrupted_ && lastResult_ != kResultTimedOut &&
                         lastResult_ != kResultConnectionClosed;
    if (goodbye) {
        SessionCommand quit;
        quit.code = CmdQuit;
        observer_.ExpectCommand();
        if (session_.PostCommand(quit)) {
            const auto deadline = CliObserver::Clock::now() + kQuitWait;
            const CliObserver::Wake wake = observer_.WaitForCommandFinished(CmdQuit, deadline);
            if (wake.kind == CliObserver::Wake::kFinished) {
                observer_.WaitForDisconnected(CliObserver::Clock::now() + kSessionEndWait);
            }
        }
    }
    session_.StopWorker();
}

}  // namespace tarnwick::cli
