// Queue files (".que"): the queues of several sessions in one text file, one section per
// session:
//   "[" host address "]"
//   one line per item: kind TAB serverPath TAB operation TAB clientPath TAB sizeHigh TAB sizeLow
//   an empty line
// Integers are signed decimal; an unknown size is sizeHigh 0, sizeLow -1. Item states,
// overwrite actions, afterDownload and children are not stored.
//
// Threads: any thread may call these. The items handed to the writer are only read (their
// paths, kind, operation and size, which do not change once an item is queued), so a
// snapshot of a queue that is running may be saved. The reader returns new items that
// belong to the caller.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "listing/atomic_file.h"
#include "queue/queue_item.h"

namespace tarnwick {

// The queue of one session as a queue file holds it.
struct QueueSection {
    std::string hostAddress;
    std::vector<std::shared_ptr<QueueItem>> items;  // in queue order; no null entries
};

// Longest line (bytes, line feed not counted) the reader takes; longer ones are skipped with
// a warning, so a damaged file can neither make the reader hold an unbounded line nor split
// a long line into bogus items.
inline constexpr size_t kMaxQueueLineLength = 64 * 1024;

// Appends the item's line (line feed included) to `out`. An item whose serverPath or
// clientPath holds a TAB or a line feed cannot be stored: the line would split into other
// fields or other items. Then nothing is appended and false is returned.
bool WriteQueueItem(const QueueItem& item, std::string& out);

struct QueueSaveResult {
    AtomicWriteResult write = AtomicWriteResult::kWritten;
    // Items left out because WriteQueueItem refused them, or because their section's host
    // address holds a line feed.
    size_t skippedItems = 0;
};

// Writes the queue file at `path`: one section per entry of `sections` that has items to
// store, in the given order. The file is replaced whole (temporary file and rename): if
// writing fails, the previous file stays as it was.
QueueSaveResult SaveQueues(const std::string& path, const std::vector<QueueSection>& sections);

struct QueueFileContents {
    bool opened = false;
    std::string error;  // when not opened: "Can't open" followed by the path
    // Every section in file order, also one without items and one whose host address
    // repeats an earlier one; whoever imports them decides which session gets which.
    std::vector<QueueSection> sections;
    // One text per problem met while reading (an overlong line, a read error).
    std::vector<std::string> warnings;
};

// Reads a queue file. Lines are trimmed of spaces and CRs at both ends (so CR LF files read
// the same, and the TABs around an empty field stay). A line starting with "[" opens a
// section named by the text between its first and last character; item lines follow until
// an empty line or the end of the file; other lines outside sections are skipped. Every TAB
// separates two fields, and a field that is missing or not a number leaves the item's
// initial value (a missing sizeLow leaves the size unknown). Size halves may be written
// signed or unsigned ("4294967295" is -1).
QueueFileContents ReadQueueFile(const std::string& path);

}  // namespace tarnwick
