// The status bar's transfer figures: the speed over the last ten half-second samples and the
// "Percent" text of a transfer.
//
// Threads: the user-interface thread (the main window's timer). Plain values; one window per
// session, owned by the main window.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace tarnwick::gui {

class SpeedWindow {
public:
    static constexpr int kMaxSamples = 10;

    // Forgets the samples: the next update only remembers its byte count.
    void Reset();
    // One timer update with the transfer's bytes so far. Returns the speed in KB per second
    // (twice the mean sample, a sample covering half a second), or -1 while it is unknown.
    // A byte count lower than the last one (the next file began) starts the window afresh.
    double Update(uint64_t bytesDone);
    int SampleCount() const { return count; }

private:
    std::deque<double> samples;
    int count = -1;  // -1 after a reset
    uint64_t lastBytes = 0;
};

// "%d%% [%s/%s]": the whole percentage (truncated, at most 100; 100 for an empty file) and both
// amounts in FormatFileSize's form.
std::string PercentText(uint64_t bytesDone, uint64_t fileSize);
// "%.3fKB/s".
std::string SpeedText(double kilobytesPerSecond);

}  // namespace tarnwick::gui
