// Trimming of the history files ("urlhis.txt", "pathhis.txt"): they grow by appending, and at
// start-up each one that has passed kHistoryTrimThreshold bytes is cut to the whole lines of
// its last kHistoryKeepBytes bytes. Called on the user-interface thread at start-up, before
// anything else uses the files.
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

inline constexpr int64_t kHistoryTrimThreshold = 10000;
inline constexpr int64_t kHistoryKeepBytes = 8000;

enum class HistoryTrimStatus {
    kLeftAlone,  // missing, or not larger than kHistoryTrimThreshold
    kTrimmed,
    kFailed,  // `message` says why; the history can no longer be kept consistent
};

struct HistoryTrimResult {
    HistoryTrimStatus status = HistoryTrimStatus::kLeftAlone;
    // For kFailed, the text to show: "Can't open" + the file's full path, or
    // "Can't create temporary file " + the temporary file's path + "!" (the temporary file is
    // "~tmphis.txt" in the same directory), or "Can't replace " + the full path + "!".
    std::string message;
};

// Trims directory/fileName. The shortened history is written to "~tmphis.txt" in the same
// directory and renamed over the file, so the file is always either the old or the new
// content. Lines are kept whole however long they are. The caller reports a failure and
// ends the process, as it does for other unrecoverable start-up conditions.
HistoryTrimResult TrimHistoryFile(const std::string& directory, const std::string& fileName);

}  // namespace tarnwick
