// Memoised local-time conversion; see local_time.h.
//
// A day is "regular" when the UTC offset is the same for some days around it: then every
// local time in it names exactly one instant, midnight + h*3600 + m*60, and only midnight
// needs the C library. Everything else (days near a transition, fields that need normalising,
// years outside the tables) is resolved from scratch.
#include "listing/local_time.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tarnwick {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool FitsInt(int64_t value) {
    return value >= INT_MIN && value <= INT_MAX;
}

bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysInMonth(int64_t year, int64_t month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// True when the fields name a real local clock time without any normalisation.
bool IsPlainDate(const LocalFields& f) {
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= DaysInMonth(f.year, f.month) &&
           f.hour >= 0 && f.hour <= 23 && f.minute >= 0 && f.minute <= 59;
}

bool UtcOffsetAt(int64_t t, long* offset) {
    const time_t instant = static_cast<time_t>(t);
    tm local{};
    if (!localtime_r(&instant, &local)) return false;
    *offset = local.tm_gmtoff;
    return true;
}

// The fields as a struct tm, or false when one does not fit.
bool ToTm(const LocalFields& f, tm* fields) {
    if (!FitsInt(f.year - 1900) || !FitsInt(f.month - 1) || !FitsInt(f.day) || !FitsInt(f.hour) ||
        !FitsInt(f.minute)) {
        return false;
    }
    *fields = tm{};
    fields->tm_year = static_cast<int>(f.year - 1900);
    fields->tm_mon = static_cast<int>(f.month - 1);
    fields->tm_mday = static_cast<int>(f.day);
    fields->tm_hour = static_cast<int>(f.hour);
    fields->tm_min = static_cast<int>(f.minute);
    fields->tm_isdst = -1;
    return true;
}

}  // namespace

int64_t PlainLocalTime(const LocalFields& f) {
    tm fields;
    return ToTm(f, &fields) ? static_cast<int64_t>(std::mktime(&fields)) : -1;
}

// `wall` is the local time counted as if it were UTC; the instant is wall - offset for the
// offset in effect at that instant. Of the offsets around (a day either side covers every
// zone), the largest gives the earliest candidate instant; the offset in effect there is the
// one before any change near wall, which is exactly the rule for repeated and skipped times.
int64_t ResolveLocalTime(const LocalFields& f) {
    tm fields;
    if (!ToTm(f, &fields)) return -1;
    errno = 0;
    const int64_t wall = static_cast<int64_t>(timegm(&fields));  // normalises like mktime
    if (wall == -1 && errno != 0) return -1;
    long largest = LONG_MIN;
    for (int64_t sample : {wall - kSecondsPerDay, wall, wall + kSecondsPerDay}) {
        long offset = 0;
        if (!UtcOffsetAt(sample, &offset)) return -1;
        largest = std::max(largest, offset);
    }
    long offset = 0;
    if (!UtcOffsetAt(wall - largest, &offset)) return -1;
    return wall - offset;
}

LocalTimeCache& LocalTimeCache::ForThisThread() {
    thread_local LocalTimeCache cache;
    return cache;
}

void LocalTimeCache::SyncWithTimeZone() {
    tzset();
    const char* tz = std::getenv("TZ");
    bool changed = !synced_ || tzSet_ != (tz != nullptr) || (tz && tz_ != tz);
    if (!tz) {
        // The C library re-reads the default zone file when it changes; so must we.
        struct stat file {};
        if (stat("/etc/localtime", &file) != 0) file = {};
        changed = changed || file.st_dev != zoneFileDevice_ || file.st_ino != zoneFileInode_ ||
                  file.st_size != zoneFileSize_ ||
                  file.st_mtim.tv_sec != zoneFileModified_.tv_sec ||
                  file.st_mtim.tv_nsec != zoneFileModified_.tv_nsec;
        zoneFileDevice_ = file.st_dev;
        zoneFileInode_ = file.st_ino;
        zoneFileSize_ = file.st_size;
        zoneFileModified_ = file.st_mtim;
    }
    if (!changed) return;
    Clear();
    synced_ = true;
    tzSet_ = tz != nullptr;
    tz_ = tz ? tz : "";
}

void LocalTimeCache::Clear() {
    for (auto& table : years_) table.reset();
    yearTables_ = 0;
    haveLastYear_ = false;
}

int64_t LocalTimeCache::LocalTime(const LocalFields& f) {
    if (!enabled_) return PlainLocalTime(f);
    if (f.year < kFirstYear || f.year > kLastYear || !IsPlainDate(f)) return ResolveLocalTime(f);
    const int64_t midnight = RegularMidnight(f.year, f.month, f.day);
    if (midnight == kIrregularDay) return ResolveLocalTime(f);
    return midnight + f.hour * 3600 + f.minute * 60;
}

int64_t LocalTimeCache::RegularMidnight(int64_t year, int64_t month, int64_t day) {
    if (years_.empty()) years_.resize(kLastYear - kFirstYear + 1);
    std::unique_ptr<YearDays>& table = years_[year - kFirstYear];
    if (!table) {
        if (yearTables_ == kMaxYears) Clear();
        table = std::make_unique<YearDays>();
        table->fill(kUnknownDay);
        ++yearTables_;
    }
    int64_t& midnight = (*table)[(month - 1) * 31 + day - 1];
    if (midnight == kUnknownDay) midnight = ComputeRegularMidnight(year, month, day);
    return midnight;
}

// Midnight is accepted only when it really is that day's 00:00 and the UTC offset stays the
// same from two days before to three days after it: wider than the window ResolveLocalTime
// looks at for any time of the day, so it would find this one offset too. Samples a day
// apart assume that a zone never changes its offset twice within a day.
int64_t LocalTimeCache::ComputeRegularMidnight(int64_t year, int64_t month, int64_t day) {
    const int64_t t0 = ResolveLocalTime({year, month, day, 0, 0});
    if (t0 == -1) return kIrregularDay;
    const time_t instant = static_cast<time_t>(t0);
    tm local{};
    if (!localtime_r(&instant, &local)) return kIrregularDay;
    if (local.tm_year != year - 1900 || local.tm_mon != month - 1 || local.tm_mday != day ||
        local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        return kIrregularDay;
    }
    for (int64_t days = -2; days <= 3; ++days) {
        for (int64_t sample : {t0 + days * kSecondsPerDay - 1, t0 + days * kSecondsPerDay}) {
            long offset = 0;
            if (!UtcOffsetAt(sample, &offset) || offset != local.tm_gmtoff) return kIrregularDay;
        }
    }
    return t0;
}

int64_t LocalTimeCache::LocalYear(int64_t t) {
    if (enabled_ && haveLastYear_ && t == lastYearInstant_) return lastYear_;
    const time_t instant = static_cast<time_t>(t);
    tm local{};
    const int64_t year = localtime_r(&instant, &local) ? int64_t{local.tm_year} + 1900 : 1970;
    lastYearInstant_ = t;
    lastYear_ = year;
    haveLastYear_ = true;
    return year;
}

}  // namespace tarnwick
