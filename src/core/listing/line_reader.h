// Reading a text file line by line with a bound on the length of a line, for the small text
// files the program keeps (site file, history files). Lines end in "\n"; a "\r" before it
// (a file written on Windows) is dropped. A line is read whole however it compares with the
// original's 255-character buffers, so a long line is never split into extra lines; a line
// beyond the bound is reported, never held in memory.
//
// Ownership and threads: a LineReader owns its open file; one thread uses it at a time.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace tarnwick {

// Longest line the program's own text files are read with.
inline constexpr size_t kMaxTextFileLine = 64 * 1024;

enum class LineStatus {
    kLine,     // `line` holds the next line
    kEnd,      // no more lines
    kTooLong,  // the line was longer than the bound; it was skipped up to its end
    kError,    // the file could not be read
};

class LineReader {
public:
    // Opens `path` for reading; check IsOpen().
    explicit LineReader(const std::string& path, size_t maxLength = kMaxTextFileLine);

    bool IsOpen() const { return file_ != nullptr; }

    // The next line without its line end. A last line without "\n" is still a line.
    LineStatus Next(std::string& line);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    size_t maxLength_;
};

}  // namespace tarnwick
