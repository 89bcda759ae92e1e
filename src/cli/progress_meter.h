// The progress line of a transfer: file name, percent, bytes and speed, redrawn about four
// times a second on stderr from the session's atomic counters.
//
// Threads: constructed, renamed and destroyed on the main thread; its own timer thread reads
// the session's atomics (bytesDone, fileSize, transferInProgress) and draws on the console.
// The session and the console must outlive the meter.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "console.h"
#include "session/ftp_session.h"

namespace tarnwick::cli {

// The text of one progress line. `fileSize` 0 means unknown (no percent); a negative speed
// means not known yet.
std::string FormatProgressLine(const std::string& fileName, uint64_t bytesDone, uint64_t fileSize,
                               double bytesPerSecond);

class ProgressMeter {
public:
    static constexpr auto kTick = std::chrono::milliseconds(250);

    ProgressMeter(const CFtpSession& session, Console& console);
    ~ProgressMeter();  // stops the timer and wipes the line
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // The file the next transfer is about (the session's own field is the worker's).
    void SetFileName(std::string name);

private:
    void Run(std::stop_token stop);
    void Tick(bool& shown);
    double Speed(uint64_t bytesDone);

    const CFtpSession& session_;
    Console& console_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::string fileName_;
    // Timer thread only: bytes moved per tick over the last few ticks.
    std::deque<uint64_t> samples_;
    uint64_t lastBytes_ = 0;
    bool haveLast_ = false;
    std::jthread thread_;  // last: started once everything above exists
};

}  // namespace tarnwick::cli
