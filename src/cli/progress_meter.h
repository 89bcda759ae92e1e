// The progress line of a queue run: the file moving with its percent, bytes and speed, redrawn
// about four times a second on stderr from the session's progress snapshot, followed by the
// run's part: files done (of how many, when known), bytes and mean speed of the run.
//
// Threads: constructed, started and destroyed on the main thread; its own timer thread reads
// the session's Progress() and the observer's transfer tally, and draws on the console. The
// session, the observer and the console must outlive the meter.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli_observer.h"
#include "console.h"
#include "session/ftp_session.h"

namespace tarnwick::cli {

// The text of one progress line. `fileSize` 0 means unknown (no percent); a negative speed
// means not known yet.
std::string FormatProgressLine(const std::string& fileName, uint64_t bytesDone, uint64_t fileSize,
                               double bytesPerSecond);
// The queue's part: "files DONE/TOTAL" (or "files DONE" when the total is not known), the
// bytes and the speed, e.g. "files 3/40, 1,234,567 bytes, 120.5KB/s".
std::string FormatQueueProgress(uint64_t filesDone, std::optional<uint64_t> totalFiles,
                                uint64_t bytes, double bytesPerSecond);

class ProgressMeter {
public:
    static constexpr auto kTick = std::chrono::milliseconds(250);

    ProgressMeter(const CFtpSession& session, const CliObserver& observer, Console& console);
    ~ProgressMeter();  // stops the timer and wipes the line
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // A queue run starts (the observer's tally freshly reset). `totalFiles`: the files the
    // run will move, when known beforehand.
    void StartQueue(std::optional<uint64_t> totalFiles);

private:
    void Run(std::stop_token stop);
    void Tick(bool& shown);
    double Speed(uint64_t bytesDone);
    std::string QueuePart(const CliObserver::TransferTally& tally,
                          const ProgressSnapshot& progress) const;

    const CFtpSession& session_;
    const CliObserver& observer_;
    Console& console_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    // The queue run being shown, if any.
    bool queueMode_ = false;
    std::optional<uint64_t> totalFiles_;
    std::chrono::steady_clock::time_point queueStart_;
    // Timer thread only: bytes moved per tick over the last few ticks.
    std::deque<uint64_t> samples_;
    uint64_t lastBytes_ = 0;
    bool haveLast_ = false;
    std::jthread thread_;  // last: started once everything above exists
};

}  // namespace tarnwick::cli
