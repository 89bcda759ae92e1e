// The listing parser: one line at a time, UNIX or DOS style decided by the line itself.
#include "listing/listing_parser.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "listing/fact_listing.h"
#include "listing/line_reader.h"
#include "listing/local_time.h"
#include "listing/text_utils.h"

namespace tarnwick {

namespace {

// Numbers in listing fields are saturated here: far beyond any calendar field the C library
// accepts, so such a field gives an unrepresentable time (-1), and still safe to add to.
constexpr int64_t kNumberLimit = int64_t{1} << 60;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsWithDigit(std::string_view text) {
    return !text.empty() && IsDigit(text[0]);
}

// The number at the start of `text`, as C's atoi reads it but saturated instead of
// overflowing; 0 when there is none.
int64_t LeadingNumber(std::string_view text) {
    return LeadingInteger(text, kNumberLimit);
}

// A size field: an unsigned 64-bit number at its start. A negative number or one that does
// not fit 64 bits is no size at all and gives 0, as a missing one does; wrapping it would
// show (and compare against) a size the server never sent.
uint64_t LeadingSize(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i++] == '-') return 0;
    }
    uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

// The first fields of a line, found in one pass (GetField would rescan for each one). Only
// the start of the last field wanted is looked for: it begins the name, which runs to the
// end of the line.
class LineFields {
public:
    static constexpr int kMax = 9;  // a UNIX line needs fields 0..7 and where field 8 starts

    // Finds fields 0..last-1 and the start of field `last`.
    LineFields(std::string_view line, int last) {
        size_t i = 0;
        for (; count_ <= last; ++count_) {
            while (i < line.size() && IsFieldSpace(line[i])) ++i;
            if (i == line.size()) break;
            start_[count_] = i;
            if (count_ == last) {
                ++count_;
                break;
            }
            size_t j = i;
            while (j < line.size() && !IsFieldSpace(line[j])) ++j;
            field_[count_] = line.substr(i, j - i);
            i = j;
        }
    }

    // Field n (empty when there is none); n must be below `last`.
    std::string_view Get(int n) const { return n < count_ ? field_[n] : std::string_view{}; }
    // Where field n begins, or npos when the line has no field n.
    size_t Start(int n) const { return n < count_ ? start_[n] : std::string_view::npos; }

private:
    std::array<std::string_view, kMax> field_{};
    std::array<size_t, kMax> start_{};
    int count_ = 0;
};

// The rest of the line from field n on; the whole line when it has no field n.
std::string_view RestFrom(std::string_view line, const LineFields& fields, int n) {
    const size_t start = fields.Start(n);
    return start == std::string_view::npos ? line : line.substr(start);
}

// drwxr-xr-x 2 owner group 4096 Jan 31 12:00 name  (the group column may be missing)
void ParseUnixLine(FileEntry& entry, std::string_view line, const LineFields& fields,
                   ClockFunction clock, LocalTimeCache& times) {
    entry.attributes.assign(fields.Get(0));
    const int shift = StartsWithDigit(fields.Get(4)) ? 0 : 1;
    entry.SetSize(LeadingSize(fields.Get(4 - shift)));
    entry.isDirectory = entry.attributes.empty() || entry.attributes[0] != '-';

    const int64_t now = clock();
    LocalFields when;
    when.month = MonthFromName(fields.Get(5 - shift));
    when.day = LeadingNumber(fields.Get(6 - shift));
    const std::string_view timeOrYear = fields.Get(7 - shift);
    const size_t colon = timeOrYear.find(':');
    if (colon != std::string_view::npos) {
        when.hour = LeadingNumber(timeOrYear.substr(0, colon));
        when.minute = LeadingNumber(timeOrYear.substr(colon + 1));
        when.year = times.LocalYear(now);
    } else {
        when.year = LeadingNumber(timeOrYear);
    }
    when.year = std::max<int64_t>(when.year, 1970);
    entry.modified = times.LocalTime(when);
    if (entry.modified > now) {  // "Dec 31 23:59" seen on 1 January is last year's
        --when.year;
        entry.modified = times.LocalTime(when);
    }

    std::string_view name = RestFrom(line, fields, 8 - shift);
    const size_t arrow = name.find(" -> ");
    if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    entry.name.assign(name);
}

// The year part of a DOS date. Two digits: below 70 is 20xx, else 19xx (three digits also
// count from 1900). A four-digit year is taken as written, but not before 1970, as for UNIX
// lines.
int64_t DosYear(int64_t year) {
    if (year < 70) return 2000 + year;
    if (year < 1000) return 1900 + year;
    return std::max<int64_t>(year, 1970);
}

// "09:05PM", "21:05", "9:35PM": hour and minute around the colon, then the 12-hour clock.
// Without a colon the fixed positions of "HH:MM" are read.
void ReadDosTime(std::string_view time, LocalFields& when) {
    const size_t colon = time.find(':');
    if (colon != std::string_view::npos) {
        when.hour = LeadingNumber(time.substr(0, colon));
        when.minute = LeadingNumber(time.substr(colon + 1));
    } else {
        when.hour = LeadingNumber(time.substr(0, 2));
        when.minute = time.size() > 3 ? LeadingNumber(time.substr(3, 2)) : 0;
    }
    const std::string_view suffix = time.size() >= 2 ? time.substr(time.size() - 2) : "";
    if (suffix == "PM" && when.hour != 12) when.hour += 12;
    if (suffix == "AM" && when.hour == 12) when.hour = 0;
}

// 01-31-02 09:05PM <DIR> name  or  01-31-02 09:05PM 1234 name
void ParseDosLine(FileEntry& entry, std::string_view line, const LineFields& fields,
                  LocalTimeCache& times) {
    entry.isDirectory = fields.Get(2) == "<DIR>";
    entry.SetSize(entry.isDirectory ? 0 : LeadingSize(fields.Get(2)));

    const std::string_view date = fields.Get(0);
    LocalFields when;
    when.month = LeadingNumber(GetFieldByChar(date, 0, '-'));
    when.day = LeadingNumber(GetFieldByChar(date, 1, '-'));
    when.year = DosYear(LeadingNumber(GetFieldByChar(date, 2, '-')));
    ReadDosTime(fields.Get(1), when);
    entry.modified = times.LocalTime(when);

    entry.name.assign(RestFrom(line, fields, 3));
}

void ParseTrimmedLine(FileEntry& entry, std::string_view line, ClockFunction clock,
                      LocalTimeCache& times) {
    // The line is trimmed, so its first character is that of field 0.
    if (StartsWithDigit(line)) {
        ParseDosLine(entry, line, LineFields(line, 3), times);
    } else {
        ParseUnixLine(entry, line, LineFields(line, 8), clock, times);
    }
}

bool IsTotalLine(std::string_view line) {
    return line.substr(0, 5) == "total";
}

bool IsDotName(const std::string& name) {
    return name == "." || name == "..";
}

// What to do with one physical line of a listing.
enum class LineKind { kSkip, kEnd, kEntry };

LineKind Classify(std::string_view rawLine, std::string_view& trimmed) {
    // The CR of a CR LF line end does not count against the bound, as in LineReader.
    const size_t length = rawLine.size() - (rawLine.ends_with('\r') ? 1 : 0);
    if (length > kMaxListingLineLength) return LineKind::kSkip;
    trimmed = TrimFieldSpaces(rawLine);
    if (IsTotalLine(trimmed)) return LineKind::kSkip;
    if (trimmed.empty()) return LineKind::kEnd;
    return LineKind::kEntry;
}

// A listing is a LIST listing or a machine (MLSD) one, told by its first entry line: fact
// lines carry no marker of their own, and a cached listing is stored as it came.
enum class ListingFormat { kUnknown, kList, kFacts };

// Parses one entry line of a listing into `list` by the listing's format (decided here from
// the first line); `keepDots` keeps "." and ".." of LIST listings.
void AddEntryLine(FileEntryList& list, std::string_view line, ListingFormat& format, bool keepDots,
                  ClockFunction clock, LocalTimeCache& times) {
    if (format == ListingFormat::kUnknown) {
        format = IsFactLine(line) ? ListingFormat::kFacts : ListingFormat::kList;
    }
    FileEntry& entry = list.emplace_back();
    if (format == ListingFormat::kFacts) {
        // The listed directory and its parent, and lines that are no facts, are no entries.
        if (ParseFactLine(entry, line) != FactLineKind::kEntry) list.pop_back();
        return;
    }
    ParseTrimmedLine(entry, line, clock, times);
    if (!keepDots && IsDotName(entry.name)) list.pop_back();
}

// A machine listing comes in the server's directory order; its entries are put in name order,
// the order `ls` gives a LIST listing, so that a directory reads the same either way.
void SortFactEntries(FileEntryList& list, size_t first, ListingFormat format) {
    if (format != ListingFormat::kFacts) return;
    std::stable_sort(list.begin() + static_cast<std::ptrdiff_t>(first), list.end(),
                     [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
}

size_t CountLineFeeds(std::string_view text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

int64_t SystemNow() {
    return static_cast<int64_t>(std::time(nullptr));
}

void ParseListingLine(FileEntry& entry, std::string_view line, ClockFunction now) {
    if (!now) now = SystemNow;
    LocalTimeCache& times = LocalTimeCache::ForThisThread();
    times.SyncWithTimeZone();
    const std::string_view trimmed = TrimFieldSpaces(line);
    if (IsFactLine(trimmed)) {
        ParseFactLine(entry, trimmed);
        return;
    }
    ParseTrimmedLine(entry, trimmed, now, times);
}

void ParseListingText(FileEntryList& list, std::string_view text, ClockFunction now) {
    if (!now) now = SystemNow;
    LocalTimeCache& times = LocalTimeCache::ForThisThread();
    times.SyncWithTimeZone();
    // One allocation for the whole listing, but geometric growth kept for callers that
    // append many listings to one list.
    const size_t needed = list.size() + CountLineFeeds(text) + 1;
    if (needed > list.capacity()) list.reserve(std::max(needed, 2 * list.capacity()));
    ListingFormat format = ListingFormat::kUnknown;
    const size_t first = list.size();
    size_t pos = 0;
    for (;;) {
        // Runs of line feeds count as one, so empty lines vanish.
        while (pos < text.size() && text[pos] == '\n') ++pos;
        if (pos == text.size()) break;
        size_t feed = text.find('\n', pos);
        if (feed == std::string_view::npos) feed = text.size();
        std::string_view line;
        const LineKind kind = Classify(text.substr(pos, feed - pos), line);
        pos = feed;
        if (kind == LineKind::kEnd) break;
        if (kind == LineKind::kSkip) continue;
        AddEntryLine(list, line, format, false, now, times);
    }
    SortFactEntries(list, first, format);
}

int LoadListingFile(const std::string& path, FileEntryList& list, ClockFunction now) {
    if (path.empty()) return -1;
    if (!now) now = SystemNow;
    LineReader reader(path, kMaxListingLineLength);
    if (!reader.IsOpen()) return -1;
    LocalTimeCache& times = LocalTimeCache::ForThisThread();
    times.SyncWithTimeZone();

    const size_t oldSize = list.size();
    ListingFormat format = ListingFormat::kUnknown;
    std::string_view rawLine;
    for (;;) {
        const LineStatus status = reader.Next(rawLine);
        if (status == LineStatus::kError) {  // e.g. a directory: no half listing
            list.resize(oldSize);
            return -1;
        }
        if (status == LineStatus::kEnd) break;
        if (status == LineStatus::kTooLong) continue;
        std::string_view line;
        const LineKind kind = Classify(rawLine, line);
        if (kind == LineKind::kEnd) break;
        if (kind == LineKind::kSkip) continue;
        AddEntryLine(list, line, format, true, now, times);
    }
    SortFactEntries(list, oldSize, format);
    return 0;
}

}  // namespace tarnwick
