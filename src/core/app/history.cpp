// The history files of the address boxes.
#include "app/history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "listing/history_file.h"
#include "listing/line_reader.h"
#include "listing/text_utils.h"
#include "platform/file_descriptor.h"

namespace tarnwick {

namespace {

bool Contains(const std::vector<std::string>& entries, std::string_view entry) {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

// True if the file is not empty and its last byte is not a line feed: appending must first
// end that line, or the new entry would be glued to it.
bool EndsInsideALine(int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_size == 0) return false;
    char last = '\n';
    return ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n';
}

// Appends the entry as one line with a single write, so a concurrent appender cannot
// interleave with it.
bool AppendLine(const std::string& path, std::string_view entry) {
    const platform::FileDescriptor file(
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!file.IsOpen()) return false;
    std::string line = EndsInsideALine(file.get()) ? "\n" : "";
    line.append(entry).push_back('\n');
    return platform::WriteAll(file.get(), line);
}

}  // namespace

std::vector<std::string> LoadHistory(const std::string& path) {
    std::vector<std::string> entries;
    LineReader reader(path);
    if (!reader.IsOpen()) return entries;
    std::string_view line;
    for (LineStatus status; (status = reader.Next(line)) != LineStatus::kEnd;) {
        if (status == LineStatus::kError) break;
        if (status == LineStatus::kTooLong) continue;
        const std::string_view entry = TrimFieldSpaces(line);
        if (!entry.empty() && !Contains(entries, entry)) entries.emplace_back(entry);
    }
    return entries;
}

HistoryAddResult AddHistoryEntry(const std::string& path, std::vector<std::string>& entries,
                                 std::string_view text) {
    const std::string_view entry = TrimFieldSpaces(text);
    if (entry.empty() || entry.size() > kMaxTextFileLine ||
        entry.find_first_of("\r\n") != std::string_view::npos || Contains(entries, entry)) {
        return HistoryAddResult::kNotAdded;
    }
    entries.emplace_back(entry);
    return AppendLine(path, entry) ? HistoryAddResult::kAdded : HistoryAddResult::kAddedNotSaved;
}

std::vector<std::string> TrimHistoryFiles(const std::string& programHome) {
    std::vector<std::string> failures;
    for (std::string_view name : {kUrlHistoryFileName, kPathHistoryFileName}) {
        HistoryTrimResult result = TrimHistoryFile(programHome, std::string(name));
        if (result.status == HistoryTrimStatus::kFailed) {
            failures.push_back(std::move(result.message));
        }
    }
    return failures;
}

}  // namespace tarnwick
