// Reading a file line by line with a bound on the length of a line: the listing files of the
// directory cache and the small text files the program keeps (site file, history files).
// Lines end in "\n"; a "\r" before it (a file written on Windows) is dropped and does not
// count against the bound. A line is read whole however it compares with the original's
// 255-character buffers, so a long line is never split into extra lines; a line beyond the
// bound is reported and skipped, never held in memory. The file is read in large chunks, and
// a line that lies within one chunk is handed out without a copy.
//
// Ownership and threads: a LineReader owns its open file; one thread uses it at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace tarnwick {

// Longest line the program's own text files are read with.
inline constexpr size_t kMaxTextFileLine = 64 * 1024;

enum class LineStatus {
    kLine,     // `line` holds the next line
    kEnd,      // no more lines
    kTooLong,  // the line was longer than the bound; it was skipped up to its end
    kError,    // the file could not be read (or was not open)
};

class LineReader {
public:
    // Opens `path` for reading; check IsOpen().
    explicit LineReader(const std::string& path, size_t maxLength = kMaxTextFileLine);

    bool IsOpen() const { return file_.IsOpen(); }
    // The errno of a failed open (ENOENT for a missing file), else 0.
    int OpenError() const { return openError_; }

    // The next line without its line end; valid until the next call. A last line without
    // "\n" is still a line.
    LineStatus Next(std::string_view& line);

private:
    enum class Refilled { kData, kEnd, kError };
    Refilled Refill();
    LineStatus Finish(std::string_view text, std::string_view& line) const;

    size_t maxLength_;
    std::string buffer_;
    size_t begin_ = 0;  // the unread part of buffer_
    size_t end_ = 0;
    std::string pending_;  // a line that spans chunks
    platform::FileDescriptor file_;
    int openError_ = 0;
};

}  // namespace tarnwick
