// History file trimming.
#include "listing/history_file.h"

#include <fstream>
#include <string_view>

#include "listing/atomic_file.h"
#include "listing/local_files.h"
#include "listing/paths.h"

namespace tarnwick {

namespace {

constexpr std::string_view kTemporaryName = "~tmphis.txt";

HistoryTrimResult Failed(std::string message) {
    return {HistoryTrimStatus::kFailed, std::move(message)};
}

// Reads the last `count` bytes of the file; false if it cannot be opened or read.
bool ReadTail(const std::string& path, int64_t size, int64_t count, std::string& tail) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    file.seekg(size - count);
    tail.resize(static_cast<size_t>(count));
    file.read(tail.data(), count);
    return file.gcount() == count;
}

}  // namespace

HistoryTrimResult TrimHistoryFile(const std::string& directory, const std::string& fileName) {
    const std::string path = JoinPath(directory, fileName);
    const int64_t size = LocalFileSize(path);
    if (size <= kHistoryTrimThreshold) return {};

    // One byte more than is kept: if it is a line feed, the kept part starts with a whole
    // line; otherwise the partial line up to the first line feed is dropped.
    std::string tail;
    if (!ReadTail(path, size, kHistoryKeepBytes + 1, tail)) return Failed("Can't open" + path);
    const size_t firstLineEnd = tail.find('\n');
    const std::string_view kept = firstLineEnd == std::string::npos
                                      ? std::string_view()
                                      : std::string_view(tail).substr(firstLineEnd + 1);

    const std::string temporary = JoinPath(directory, kTemporaryName);
    switch (WriteFileAtomically(path, kept, {.temporaryPath = temporary})) {
        case AtomicWriteResult::kWritten:
            return {HistoryTrimStatus::kTrimmed, {}};
        case AtomicWriteResult::kCannotCreateTemporary:
        case AtomicWriteResult::kWriteFailed:
            return Failed("Can't create temporary file " + temporary + "!");
        case AtomicWriteResult::kRenameFailed:
            break;
    }
    return Failed("Can't replace " + path + "!");
}

}  // namespace tarnwick
