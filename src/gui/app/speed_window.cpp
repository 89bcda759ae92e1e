#include "app/speed_window.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "listing/listing_parser.h"

namespace tarnwick::gui {

void SpeedWindow::Reset() {
    samples.clear();
    count = -1;
}

double SpeedWindow::Update(uint64_t bytesDone) {
    if (bytesDone < lastBytes) Reset();
    const double sample = static_cast<double>(bytesDone - lastBytes) / 1024.0;
    lastBytes = bytesDone;
    if (count == -1) {
        count = 0;
    } else {
        if (count == kMaxSamples) {
            samples.pop_front();
            --count;
        }
        samples.push_back(sample);
        ++count;
    }
    if (count == 0) return -1;
    return 2.0 * std::accumulate(samples.begin(), samples.end(), 0.0) / count;
}

namespace {

std::string SizeText(uint64_t bytes) {
    return FormatFileSize(static_cast<uint32_t>(bytes >> 32), static_cast<uint32_t>(bytes));
}

}  // namespace

std::string PercentText(uint64_t bytesDone, uint64_t fileSize) {
    // A file of 0 bytes is done as soon as it is there.
    const unsigned percent =
        fileSize == 0 ? 100u
                      : static_cast<unsigned>(std::min(bytesDone, fileSize) * 100 / fileSize);
    char head[16];
    std::snprintf(head, sizeof head, "%u%% [", percent);
    return head + SizeText(bytesDone) + "/" + SizeText(fileSize) + "]";
}

std::string SpeedText(double kilobytesPerSecond) {
    char text[48];
    std::snprintf(text, sizeof text, "%.3fKB/s", kilobytesPerSecond);
    return text;
}

}  // namespace tarnwick::gui
