// The history files of the address boxes: "urlhis.txt" (quick connect bar) and "pathhis.txt"
// (the site views' path boxes), in the program home. One entry a line, newest last; the
// files grow by appending and are trimmed at start-up.
//
// Threads: the user-interface thread. The caller owns the entry lists (one per combo box).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::string_view kUrlHistoryFileName = "urlhis.txt";
inline constexpr std::string_view kPathHistoryFileName = "pathhis.txt";

// The entries of a history file in file order: every line trimmed, empty lines and repeats
// (exact match) left out. Lines are read whole; a line too long to be an entry
// (kMaxTextFileLine) is skipped rather than cut into pieces. A missing file has no entries.
std::vector<std::string> LoadHistory(const std::string& path);

enum class HistoryAddResult {
    kNotAdded,       // empty after trimming, already listed, holding a line break, or too
                     // long to be read back (kMaxTextFileLine)
    kAdded,          // appended to the list and to the file
    kAddedNotSaved,  // appended to the list; the file could not be written
};

// Remembers what was typed into a box: `text` trimmed, unless empty, already in `entries`
// (exact match) or spanning lines, is appended to `entries` and, as one line, to the file.
HistoryAddResult AddHistoryEntry(const std::string& path, std::vector<std::string>& entries,
                                 std::string_view text);

// Trims "urlhis.txt" and then "pathhis.txt" in `programHome` (TrimHistoryFile). Returns the
// message of each failure, to be shown before the process ends; empty when both are fine.
std::vector<std::string> TrimHistoryFiles(const std::string& programHome);

}  // namespace tarnwick
