// One CFtpSession driven the way the GUI drives it: StartWorker, PostCommand, and the
// observer's notifications; the main thread waits for each result on the observer's
// condition variable. Ctrl-C (through CliObserver::RequestInterrupt) becomes the Stop
// command.
//
// Threads: every method on the main thread. The observer must outlive the session object.
#pragma once

#include <optional>

#include "cli_observer.h"
#include "session/ftp_session.h"

namespace tarnwick::cli {

class CliSession {
public:
    // `timeout`: the deadline of the session's waits in seconds (the engine's default if
    // none).
    CliSession(const SiteSetting& site, AppSettingsSnapshot settings, CliObserver& observer,
               std::optional<int> timeout);
    ~CliSession();  // Close()
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Starts the worker and waits for its start-up: connect with retries, login, PWD, CWD into
    // the site's start directory, LIST. The result code of the connect.
    int Connect();
    // Posts one command and waits for its result code. After Ctrl-C nothing more is posted:
    // 2 at once.
    int Run(const SessionCommand& command);
    // Runs the session's queue (its items added beforehand) to its end, the way the GUI's
    // Start Transfer does: in cycles, and on after a reconnect when the connection was lost.
    // The result of the run; 1 when it ended with items left in the queue although its last
    // item succeeded. After Ctrl-C nothing more is started: 2 at once.
    int RunQueue();
    // Says goodbye (QUIT, briefly awaited) when still connected and not interrupted, then
    // stops the worker. Idempotent.
    void Close();

    CFtpSession& Session() { return session_; }
    const CFtpSession& Session() const { return session_; }
    bool Interrupted() const { return interrupted_; }

private:
    int Await(int code);
    CliObserver::Wake AwaitAny(std::initializer_list<int> codes);

    CliObserver& observer_;
    CFtpSession session_;
    bool interrupted_ = false;
    int lastResult_ = kResultOk;
};

}  // namespace tarnwick::cli
