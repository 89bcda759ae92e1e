// The client's stderr: log and error lines from the session's worker, and one progress line
// redrawn in place by the progress timer. A line being written never collides with the
// progress line: the progress line is wiped before any other text and redrawn at the next
// tick.
//
// Threads: any thread; every call takes the console's lock.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace tarnwick::cli {

// Server- or file-controlled text for a terminal or a script: control characters (an escape
// sequence in a file name, say) become "?". Any thread.
std::string Printable(std::string_view text);

class Console {
public:
    explicit Console(std::FILE* stream = stderr) : stream_(stream) {}

    // Writes text as it is (it may end in the middle of a line).
    void Write(std::string_view text);
    // Writes text and a line feed, starting on a fresh line.
    void WriteLine(std::string_view text);

    // Shows `line` as the progress line (replacing the one shown), unless other text has left
    // a line unfinished: the progress line must not overwrite it.
    void ShowProgress(std::string_view line);
    void ClearProgress();

private:
    void WipeProgressLocked();

    std::mutex mutex_;
    std::FILE* stream_;
    size_t progressWidth_ = 0;  // characters of the progress line shown, 0 when none
    bool atLineStart_ = true;   // the last text written ended with a line feed
};

}  // namespace tarnwick::cli
