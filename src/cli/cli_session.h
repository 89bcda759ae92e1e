// One CFtpSession driven the way the GUI drives it: StartWorker, PostCommand, and the
// observer's notifications; the main thread waits for each result (matched by its request id)
// on the observer's condition variable. Ctrl-C, SIGTERM and SIGHUP (through
// CliObserver::RequestInterrupt) become the Stop command.
//
// Every wait is bounded: a session that reports nothing and moves no bytes for longer than
// its longest own wait (the deadline of its waits or the retry delay) plus a margin is
// stopped; one that does not even answer the stop ends the process with status 3.
//
// Threads: every method on the main thread. The observer must outlive the session object.
#pragma once

#include <initializer_list>
#include <optional>

#include "cli_observer.h"
#include "session/ftp_session.h"

namespace tarnwick::cli {

class CliSession {
public:
    // `timeout`: the deadline of the session's waits in seconds (the engine's default if
    // none). `listAtStart`: whether the start-up lists the start directory.
    CliSession(const SiteSetting& site, AppSettingsSnapshot settings, CliObserver& observer,
               std::optional<int> timeout, bool listAtStart);
    ~CliSession();  // Close()
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Starts the worker and waits for its start-up: connect with retries, login, PWD, CWD into
    // the site's start directory, LIST. The result code of the connect.
    int Connect();
    // Posts one command and waits for its result code. A command the session refuses is
    // reported and gives 6 at once. After an interruption nothing more is posted: 2 at once.
    int Run(const SessionCommand& command);
    // Runs the session's queue (its items added beforehand) to its end, the way the GUI's
    // Start Transfer does: in cycles, and on after a reconnect when the connection was lost.
    // The result of the run; 1 when it ended with items left in the queue although its last
    // item succeeded. After an interruption nothing more is started: 2 at once.
    int RunQueue();
    // Says goodbye (QUIT, briefly awaited) when still connected and not interrupted, then
    // stops the worker. Idempotent.
    void Close();

    CFtpSession& Session() { return session_; }
    const CFtpSession& Session() const { return session_; }
    bool Interrupted() const { return interrupted_; }

private:
    // Posts `command`; 0 (reported) when the session refuses it.
    RequestId Post(const SessionCommand& command);
    CliObserver::Wake AwaitAny(std::initializer_list<CliObserver::Awaited> awaited);
    // The silence after which the session counts as stuck.
    CliObserver::Clock::duration SilenceLimit() const;
    // True once the session has been silent for longer than SilenceLimit(); keeps the mark of
    // the last sign of life (a notification or moved bytes) up to date.
    bool Silent(uint64_t& lastBytes, CliObserver::Clock::time_point& lastSign) const;
    [[noreturn]] void GiveUpOnStuckSession();

    CliObserver& observer_;
    CFtpSession session_;
    bool interrupted_ = false;
    bool stopSent_ = false;  // the session was stopped for its silence
    int lastResult_ = kResultOk;
};

}  // namespace tarnwick::cli
