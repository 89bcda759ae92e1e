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

ProgressMeter::ProgressMeter(const CFtpSession& session, Console& console)
    : session_(session), console_(console), thread_([this](std::stop_token stop) { Run(stop); }) {}

ProgressMeter::~ProgressMeter() {
    thread_.request_stop();
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    console_.ClearProgress();
}

void ProgressMeter::SetFileName(std::string name) {
    std::lock_guard lock(mutex_);
    fileName_ = std::move(name);
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
    if (!session_.transferInProgress) {
        if (shown) console_.ClearProgress();
        shown = false;
        samples_.clear();
        haveLast_ = false;
        return;
    }
    const uint64_t done = session_.bytesDone;
    const double speed = Speed(done);
    console_.ShowProgress(FormatProgressLine(fileName_, done, session_.fileSize, speed));
    shown = true;
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
