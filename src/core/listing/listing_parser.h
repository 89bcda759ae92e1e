// Directory listing parser: turns the text of a LIST reply (UNIX- or DOS-style lines, told
// apart line by line) or of an MLSD reply (fact lines, see fact_listing.h; a listing whose
// first entry line is a fact line is read as one throughout, its entries put in name order)
// into FileEntry records, and formats sizes for display.
// Every function here is reentrant and may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// One directory entry. A value type; the size is kept as two 32-bit halves because queue
// files store it that way, but both halves are filled from one 64-bit number.
struct FileEntry {
    std::string name;        // as listed; for a symbolic link only the part before " -> "
    std::string attributes;  // UNIX permission field as listed; empty for DOS lines
    // Seconds since 1970-01-01 UTC (64-bit, no 2038 limit) from local calendar fields; -1 if
    // the time cannot be represented.
    int64_t modified = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    bool isDirectory = false;
    std::string description;  // shown in the remote pane; the parser leaves it empty

    uint64_t Size() const { return (uint64_t{sizeHigh} << 32) | sizeLow; }
    void SetSize(uint64_t size) {
        sizeHigh = static_cast<uint32_t>(size >> 32);
        sizeLow = static_cast<uint32_t>(size);
    }
};

using FileEntryList = std::vector<FileEntry>;

// Longest listing line (bytes before trimming; the line end, LF or CR LF, not counted) taken as an
// entry. Real lines are a few hundred bytes; a longer one is skipped, in memory and in files
// alike, so that a hostile listing file cannot make the reader hold an unbounded line.
inline constexpr size_t kMaxListingLineLength = 16 * 1024;

// The parser's idea of "now" (seconds since the epoch), read once per UNIX line and called
// on the parsing thread. Tests inject a fixed clock to check the year inference around New
// Year; everyone else uses SystemNow (also taken for a null clock).
using ClockFunction = int64_t (*)();
int64_t SystemNow();

// Parses one line (trimmed by the caller or not: field spaces around it are ignored). Never
// fails: a malformed line yields a malformed entry. Sets name, modified, size and
// isDirectory; attributes only for UNIX-style and fact lines (pass a fresh entry).
// Sizes are unsigned 64-bit; a size that is negative or does not fit 64 bits is refused and
// read as 0, like a missing one. A DOS date with a four-digit year takes it as written.
void ParseListingLine(FileEntry& entry, std::string_view line, ClockFunction now = SystemNow);

// Parses a whole listing held in memory, appending to `list`. Lines are separated by line
// feeds (empty ones vanish) and trimmed (which removes the CR of CR LF). Skips "total" lines
// and lines longer than kMaxListingLineLength, stops at the first all-white-space line,
// drops "." and ".." (and the directory entries of a fact listing, and its lines that are
// no fact lines).
void ParseListingText(FileEntryList& list, std::string_view text, ClockFunction now = SystemNow);

// Parses a listing stored in a file, appending to `list`; keeps "." and "..". The file is
// read as bytes, whole lines at a time; an empty line ends the listing; otherwise the rules
// of ParseListingText apply. Returns 0 on success, -1 for an empty path, a file that cannot
// be opened or a read error (then nothing is appended).
int LoadListingFile(const std::string& path, FileEntryList& list, ClockFunction now = SystemNow);

// Display text of a size: "1,234,567"; ">4GB" when sizeHigh is not 0.
std::string FormatFileSize(uint32_t sizeHigh, uint32_t sizeLow);

// Field operations shared by the listing, cache and clipboard code.
// Space and the control characters 9 to 13. Inline: the parser calls it for every byte.
inline bool IsFieldSpace(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}
std::string_view GetField(std::string_view line, int n);
std::string_view GetFieldByChar(std::string_view text, int n, char separator);
int FieldStart(std::string_view line, int n);  // -1 when there is no field n
int MonthFromName(std::string_view text);      // 1..12 for "Jan".."Dec", else 0

}  // namespace tarnwick
