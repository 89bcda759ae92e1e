// Local calendar fields to seconds since the epoch, as std::mktime computes them (tm_isdst
// = -1, out-of-range fields normalised, -1 when the time cannot be represented), but
// deterministic and memoised per local day. The listing parser needs one such conversion per
// line, and mktime is both its largest cost and, for local times that a daylight-saving
// change skips or repeats, dependent on the previous mktime call anywhere in the process.
//
// Threads: every thread has its own cache (LocalTimeCache::ForThisThread()); the only shared
// state is the C library's time zone, which it guards itself.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

// Calendar fields as read from a listing line. Well-formed values are month 1..12, day 1..31,
// hour 0..23, minute 0..59; anything else is normalised the way mktime does it (month 0 is
// December of the year before, day 0 the last day of the month before, ...).
struct LocalFields {
    int64_t year = 1970;
    int64_t month = 1;
    int64_t day = 1;
    int64_t hour = 0;
    int64_t minute = 0;
};

// The local time named by the fields, without memoisation. Where a local time exists exactly
// once this is mktime's answer. A local time that occurs twice (clocks going back) gives the
// earlier instant; one that is skipped (clocks going forward) is read with the UTC offset in
// effect before the change, so it lands as far after the change as it names after its start.
// -1 when the time cannot be represented. Assumes, as the memoisation does, that a zone never
// changes its offset twice within a day.
int64_t ResolveLocalTime(const LocalFields& fields);

// One mktime call: the baseline for benchmarks and the reference for tests.
int64_t PlainLocalTime(const LocalFields& fields);

class LocalTimeCache {
public:
    // The calling thread's cache.
    static LocalTimeCache& ForThisThread();

    // Re-reads the time zone (tzset) and forgets every memoised day when it changed since the
    // last call: the TZ variable, or /etc/localtime when TZ is unset. Call once per parse
    // before any conversion.
    void SyncWithTimeZone();

    // Same result as ResolveLocalTime(fields).
    int64_t LocalTime(const LocalFields& fields);

    // The local calendar year of the instant t (1970 if the C library cannot convert it).
    int64_t LocalYear(int64_t t);

    // Benchmarks switch the cache off: LocalTime and LocalYear then call the C library every
    // time, LocalTime as PlainLocalTime (mktime), to show what a plain implementation costs.
    void SetEnabled(bool enabled) { enabled_ = enabled; }

private:
    // Local midnight of a day whose local times map one to one onto instants at a constant
    // UTC offset; kIrregularDay when that is not so (a transition nearby, a gap, an overlap).
    static constexpr int64_t kIrregularDay = INT64_MIN;
    static constexpr int64_t kUnknownDay = INT64_MIN + 1;  // not computed yet
    // Days are memoised for years kFirstYear..kLastYear, in one table per year (indexed by
    // (month - 1) * 31 + day - 1), at most kMaxYears tables at a time (then all are dropped).
    static constexpr int64_t kFirstYear = 1900;
    static constexpr int64_t kLastYear = 9999;
    static constexpr size_t kMaxYears = 256;
    using YearDays = std::array<int64_t, 12 * 31>;

    int64_t RegularMidnight(int64_t year, int64_t month, int64_t day);
    static int64_t ComputeRegularMidnight(int64_t year, int64_t month, int64_t day);
    void Clear();

    bool enabled_ = true;
    std::vector<std::unique_ptr<YearDays>> years_;  // by year - kFirstYear; empty until used
    size_t yearTables_ = 0;
    int64_t lastYearInstant_ = -1;
    int64_t lastYear_ = 0;
    bool haveLastYear_ = false;

    // What the time zone was at the last sync.
    bool synced_ = false;
    bool tzSet_ = false;
    std::string tz_;
    dev_t zoneFileDevice_ = 0;
    ino_t zoneFileInode_ = 0;
    off_t zoneFileSize_ = 0;
    timespec zoneFileModified_{};
};

}  // namespace tarnwick
