// The waits every blocking step of a session goes through, the connection retries and the
// per-file retry wrappers.
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <span>
#include <utility>

#include "listing/paths.h"
#include "platform/message_pump.h"
#include "session/ftp_session.h"

namespace tarnwick {

namespace {

constexpr int kNoTimerIndex = -1;

// The family the control socket starts with: IPv6 for an IPv6 address, else IPv4. A host name
// is looked up for every family; the socket takes the family of the address that answers.
int AddressFamilyOf(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET6, host.c_str(), &address) == 1 ? AF_INET6 : AF_INET;
}

bool IsOneOf(int result, std::initializer_list<int> results) {
    return std::find(results.begin(), results.end(), result) != results.end();
}

bool DownloadOrUploadEnds(int result) {
    return IsOneOf(result,
                   {kResultOk, kResultInterrupted, kResultConnectionClosed, kResultRefused});
}

bool DeleteEnds(int result) {
    return IsOneOf(result, {kResultOk, kResultInterrupted});
}

// A source file the server refuses to send (or a target that refuses to store) is not
// retried: every attempt would meet the same refusal.
bool SiteToSiteEnds(int result) {
    return IsOneOf(result, {kResultOk, kResultInterrupted, kResultRefused});
}

}  // namespace

int CFtpSession::WaitForSession(platform::Waitable* handle, int seconds) {
    return WaitForSessionExact(handle, seconds == 0 ? DefaultTimeout() : seconds);
}

// As WaitForSession, but 0 seconds means "do not wait" (one look at the handles).
int CFtpSession::WaitForSessionExact(platform::Waitable* handle, int seconds) {
    std::array<platform::Waitable*, 3> handles{&stopEvent, &connectionClosedEvent, handle};
    const size_t count = handle != nullptr ? 3 : 2;
    const int signalled =
        platform::MessagePumpWait(std::span(handles.data(), count), std::max(seconds, -1));
    // A pure delay (no handle) ends quietly at its deadline.
    return ResultOfWait(signalled, kNoTimerIndex, handle != nullptr);
}

int CFtpSession::WaitWithTimer(platform::Waitable& handle, int seconds) {
    ArmTimer(seconds);
    std::array<platform::Waitable*, 4> handles{&stopEvent, &connectionClosedEvent, &waitTimer,
                                               &handle};
    const int signalled = platform::MessagePumpWait(std::span(handles), kNoLimit);
    return ResultOfWait(signalled, 2, true);
}

// Turns what ended a wait into its result, in this order: the user's stop (also when it came
// together with something else), a wait that failed, the server's close, the deadline, the
// awaited handle.
int CFtpSession::ResultOfWait(int signalled, int timerIndex, bool timeoutIsError) {
    if (signalled == 0 || stopEvent.TryWait()) {
        // The end of the worker stops every later wait as well: a step that goes on after an
        // interrupted one (the start directory's listing after the login) must not wait for
        // ever for a command that will never come.
        if (quitting) stopEvent.Set();
        // A close that came with the stop must still end the session at its next wait.
        if (signalled == 1) connectionClosedEvent.Set();
        Log("Interrupted by user", LOG_ERROR);
        return kResultInterrupted;
    }
    if (signalled == platform::WAIT_FAILED) {
        LogWaitFailed();
        return kResultFailed;
    }
    if (signalled == 1) {
        LogServerClosed();
        return kResultConnectionClosed;
    }
    if (signalled == platform::WAIT_TIMEOUT || signalled == timerIndex) {
        if (timeoutIsError) Log("Operation timed out", LOG_ERROR);
        return kResultTimedOut;
    }
    return kResultOk;
}

void CFtpSession::LogWaitFailed() {
    Log("Waiting failed.", LOG_ERROR);
}

void CFtpSession::LogServerClosed() {
    static const std::string text = "Control connection closed by server.";
    Log(text, LOG_ERROR);
    if (CommandSettings().pClose) observer.OnNotice(*this, text);
}

void CFtpSession::ArmTimer(int seconds) {
    if (seconds < 0) {  // no deadline: a timer that never fires
        waitTimer.Cancel();
        return;
    }
    const int due = seconds == 0 ? DefaultTimeout() : seconds;
    if (!waitTimer.Arm(std::chrono::seconds(due))) FatalError("Can't set waitable timer!");
}

int CFtpSession::WaitRetryDelay() {
    Log("Waiting to retry...", LOG_STATE);
    // A delay of 0 retries at once (0 is not "the default deadline" here: a retry that should
    // come immediately must not wait 1000 seconds).
    return WaitForSessionExact(nullptr, std::max(CommandSettings().retryDelay, 0));
}

// Between connect attempts the failed connection is gone: it is closed first, and only Stop
// ends the delay early. Its close (421, then the server hangs up) is no reason to hurry.
int CFtpSession::WaitConnectRetryDelay() {
    controlSocket.Close();
    connectionClosedEvent.Reset();
    Log("Waiting to retry...", LOG_STATE);
    platform::Waitable* const handles[] = {&stopEvent};
    const int signalled =
        platform::MessagePumpWait(handles, std::max(CommandSettings().retryDelay, 0));
    return ResultOfWait(signalled, kNoTimerIndex, false);
}

bool CFtpSession::CreateControlSocket() {
    controlSocket.Close();
    // A close notice of the previous connection must not end the new one.
    connectionClosedEvent.Reset();
    // A new connection starts in the server's default type, whatever the last one used: a
    // type remembered from before would send a binary file in ASCII after a reconnect.
    controlSocket.currentType = -1;
    Log("Creating control socket...", LOG_STATE);
    if (controlSocket.Create(0, SOCK_STREAM, AddressFamilyOf(hostAddress))) return true;
    Log("Unable to create control socket.", LOG_ERROR);
    Log(SocketErrorText(controlSocket.GetLastError()), LOG_ERROR);
    return false;
}

int CFtpSession::ConnectWithRetry() {
    // Called from the worker's connect step (not busy) and from retry wrappers inside a
    // command (busy): only the busy flag set here is cleared here.
    const bool wasBusy = busy.exchange(true);
    const auto finish = [&](int result) {
        if (!wasBusy) busy = false;
        return result;
    };
    const AppSettings& cfg = CommandSettings();
    for (int retries = 0;; ++retries) {
        if (CreateControlSocket()) {
            const int result = controlSocket.ConnectAndLogin();
            if (result == kResultOk) {
                StoreLocalAddress();
                return finish(kResultOk);
            }
            if (result == kResultInterrupted) return finish(kResultInterrupted);
            // TLS refused or a certificate not trusted: another try would end the same way.
            if (result == kResultRefused) return finish(kResultRefused);
        }
        // A socket that cannot be created counts against the limit too: retrying a local
        // failure without end would only fill the log.
        if (retries >= cfg.errorRetry && !cfg.alwaysRetry) {
            Log("Max errors reached, stop.", LOG_ERROR);
            return finish(kResultGaveUp);
        }
        if (stopEvent.TryWait()) return finish(kResultInterrupted);
        const int waited = WaitConnectRetryDelay();
        if (waited == kResultInterrupted) return finish(kResultInterrupted);
        if (waited == kResultFailed) return finish(kResultGaveUp);  // no delay possible
        Log("Connection retry #" + std::to_string(retries + 1) + "...", LOG_STATE);
    }
}

void CFtpSession::StoreLocalAddress() {
    std::string address;
    int localPort = 0;
    if (controlSocket.GetSockName(address, localPort)) localAddress = address;
}

template <typename Operation>
int CFtpSession::RetryFileOperation(Operation operation, bool reconnectOnClose,
                                    const char* retryMessage, bool returnAtOnce(int)) {
    const int fileRetry = CommandSettings().fileRetry;
    if (fileRetry < 0) return kResultFailed;
    for (int tries = 0;; ++tries) {
        const int result = operation();
        if (returnAtOnce(result)) return result;
        if (result == kResultConnectionClosed && reconnectOnClose) {
            const int reconnected = ConnectWithRetry();
            if (reconnected != kResultOk) return reconnected;
        }
        if (tries >= fileRetry) {
            Log("Max errors reached, go on to next file", LOG_ERROR);
            return kResultFailed;
        }
        const int waited = WaitRetryDelay();
        if (waited != kResultTimedOut) return waited;
        Log(retryMessage + std::to_string(tries), LOG_STATE);
    }
}

int CFtpSession::RetryDownload(const std::string& localDir, const std::string& remotePath,
                               int opt) {
    return RetryFileOperation([&] { return controlSocket.RetrieveFile(localDir, remotePath, opt); },
                              false, "Retrying file transfer #", DownloadOrUploadEnds);
}

int CFtpSession::RetryUpload(const std::string& localPath, const std::string& remoteDir, int opt) {
    bool retry = false;
    return RetryFileOperation(
        [&] {
            // The failed attempt dropped the cached listing the overwrite decision reads.
            if (std::exchange(retry, true)) {
                const int listed = ListDirectoryAfresh(remoteDir);
                if (listed == kResultInterrupted || listed == kResultConnectionClosed) {
                    return listed;
                }
            }
            return controlSocket.StoreFile(localPath, remoteDir, opt);
        },
        false, "Retrying file transfer #", DownloadOrUploadEnds);
}

int CFtpSession::ListDirectoryAfresh(const std::string& dir) {
    // Changing into the current directory sends nothing and lists nothing: list it directly.
    if (PathsEqual(currentDirectory, dir)) return controlSocket.ListDir("", "", 0);
    return controlSocket.ChangeDir(dir, kOptListAfter);
}

int CFtpSession::RetryDeleteFile(const std::string& path, int opt) {
    return RetryFileOperation([&] { return controlSocket.DeleteRemoteFile(path, opt); }, true,
                              "Retrying to delete file #", DeleteEnds);
}

int CFtpSession::RetryDeleteDir(const std::string& path, int opt) {
    return RetryFileOperation([&] { return controlSocket.RemoveDir(path, opt); }, true,
                              "Retrying to delete directory #", DeleteEnds);
}

int CFtpSession::RetrySiteToSite(const std::string& sourcePath, const std::string& targetDir,
                                 CFtpSession& target, int opt) {
    return RetryFileOperation(
        [&] { return controlSocket.SiteToSite(sourcePath, targetDir, target, opt); }, true,
        "Retrying file transfer #", SiteToSiteEnds);
}

void CFtpSession::FatalError(const std::string& text) {
    // An unrecoverable condition of the system: the front end cannot go on without it.
    std::fprintf(stderr, "%s\n", text.c_str());
    std::abort();
}

}  // namespace tarnwick
