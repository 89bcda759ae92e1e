#include "progress_meter.h"

#include <cstdio>
#include <numeric>

namespace tarnwick::cli {

namespace {

constexpr size_t kSpeedSamples = 10;  // the speed is the mean over the last 2.5 seconds

std::string Thousands(uint64_t number) {
    // FormatFileSize stops at 4 GB; the progress line shows every byte.
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

}  // namespace

std::string FormatProgressLine(const std::string& fileName, uint64_t bytesDone, uint64_t fileSize,
                               double bytesPerSecond) {
    std::string line = fileName + "  ";
    if (fileSize > 0) {
        const uint64_t percent = bytesDone >= fileSize ? 100 : bytesDone * 100 / fileSize;
        line += std::to_string(percent) + "% [" + Thousands(bytesDone) + "/" + Thousands(fileSize) +
                "]";
    } else {
        line += "[" + Thousands(bytesDone) + "]";
    }
    if (bytesPerSecond >= 0) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "  %.3fKB/s", bytesPerSecond / 1024);
        line += speed;
    }
    return line;
}

std::string FormatQueueProgress(uint64_t filesDone, std::optional<uint64_t> totalFiles,
                                uint64_t bytes, double bytesPerSecond) {
    std::string text = "files " + std::to_string(filesDone);
    if (totalFiles) text += "/" + std::to_string(*totalFiles);
    text += ", " + Thousands(bytes) + " bytes";
    if (bytesPerSecond >= 0) {
        char speed[32];
        std::snprintf(speed, sizeof speed, ", %.3fKB/s", bytesPerSecond / 1024);
        text += speed;
    }
    return text;
}

ProgressMeter::ProgressMeter(const CFtpSession& session, const CliObserver& observer,
                             Console& console)
    : session_(session),
      observer_(observer),
      console_(console),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

ProgressMeter::~ProgressMeter() {
    thread_.request_stop();
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    console_.ClearProgress();
}

void ProgressMeter::StartQueue(std::optional<uint64_t> totalFiles) {
    std::lock_guard lock(mutex_);
    queueMode_ = true;
    totalFiles_ = totalFiles;
    queueStart_ = std::chrono::steady_clock::now();
}

void ProgressMeter::Run(std::stop_token stop) {
    bool shown = false;
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        wake_.wait_for(lock, stop, kTick, [] { return false; });
        if (stop.stop_requested()) break;
        Tick(shown);
    }
}

// Called with mutex_ held.
void ProgressMeter::Tick(bool& shown) {
    if (!queueMode_) return;
    const CliObserver::TransferTally tally = observer_.Tally();
    const ProgressSnapshot progress = session_.Progress();
    if (!progress.transferring) {
        samples_.clear();
        haveLast_ = false;
        if (tally.filesStarted > 0) {
            console_.ShowProgress(QueuePart(tally, progress));
            shown = true;
        } else if (shown) {
            console_.ClearProgress();
            shown = false;
        }
        return;
    }
    const double speed = Speed(progress.bytesDone);
    const uint64_t size = progress.fileSize > 0 ? static_cast<uint64_t>(progress.fileSize) : 0;
    std::string line =
        FormatProgressLine(Printable(progress.currentFile), progress.bytesDone, size, speed);
    line += "  |  " + QueuePart(tally, progress);
    console_.ShowProgress(line);
    shown = true;
}

// Called with mutex_ held.
std::string ProgressMeter::QueuePart(const CliObserver::TransferTally& tally,
                                     const ProgressSnapshot& progress) const {
    // The bytes of this attempt: a resumed file's snapshot counts from its offset.
    const uint64_t moving = progress.transferring && progress.bytesDone > progress.resumeOffset
                                ? progress.bytesDone - progress.resumeOffset
                                : 0;
    const uint64_t bytes = tally.finishedBytes + moving;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - queueStart_).count();
    const double speed = seconds > 0 ? static_cast<double>(bytes) / seconds : -1;
    return FormatQueueProgress(tally.filesFinished, totalFiles_, bytes, speed);
}

double ProgressMeter::Speed(uint64_t bytesDone) {
    if (!haveLast_) {  // the first tick of a transfer only sets the mark
        lastBytes_ = bytesDone;
        haveLast_ = true;
        return -1;
    }
    samples_.push_back(bytesDone >= lastBytes_ ? bytesDone - lastBytes_ : 0);
    lastBytes_ = bytesDone;
    if (samples_.size() > kSpeedSamples) samples_.pop_front();
    const double total = std::accumulate(samples_.begin(), samples_.end(), 0.0);
    const double seconds =
        static_cast<double>(samples_.size()) * std::chrono::duration<double>(kTick).count();
    return total / seconds;
}

}  // namespace tarnwick::cli
