// Memoised local-time conversion; see local_time.h.
//
// A day is "regular" when every local time in it names exactly one instant and the UTC offset
// is the same for all of them. For such a day mktime(h:m) is midnight + h*3600 + m*60, so
// only midnight needs the C library. Everything else (days near a transition, fields that
// need normalising, years outside 1900..9999) goes to mktime itself.
#include "listing/local_time.h"

#include <sys/stat.h>

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

}  // namespace

int64_t PlainLocalTime(const LocalFields& f) {
    if (!FitsInt(f.year - 1900) || !FitsInt(f.month - 1) || !FitsInt(f.day) || !FitsInt(f.hour) ||
        !FitsInt(f.minute)) {
        return -1;
    }
    tm fields{};
    fields.tm_year = static_cast<int>(f.year - 1900);
    fields.tm_mon = static_cast<int>(f.month - 1);
    fields.tm_mday = static_cast<int>(f.day);
    fields.tm_hour = static_cast<int>(f.hour);
    fields.tm_min = static_cast<int>(f.minute);
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
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
    if (!enabled_ || f.year < kFirstYear || f.year > kLastYear || !IsPlainDate(f)) {
        return PlainLocalTime(f);
    }
    const int64_t midnight = RegularMidnight(f.year, f.month, f.day);
    if (midnight == kIrregularDay) return PlainLocalTime(f);
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

// Midnight is taken from mktime and accepted only when it really is that day's 00:00 and the
// UTC offset is the same from a day before to two days after it. A transition within that
// window could make some local time of the day skipped or doubled (and mktime's choice for
// those depends on its own history), so such days always go to mktime. Samples a day apart
// assume that a zone never has two transitions less than a day apart that cancel out.
int64_t LocalTimeCache::ComputeRegularMidnight(int64_t year, int64_t month, int64_t day) {
    const int64_t t0 = PlainLocalTime({year, month, day, 0, 0});
    if (t0 == -1) return kIrregularDay;
    const time_t instant = static_cast<time_t>(t0);
    tm local{};
    if (!localtime_r(&instant, &local)) return kIrregularDay;
    if (local.tm_year != year - 1900 || local.tm_mon != month - 1 || local.tm_mday != day ||
        local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        return kIrregularDay;
    }
    const int64_t samples[] = {t0 - kSecondsPerDay, t0 - 1, t0 + kSecondsPerDay - 1,
                               t0 + kSecondsPerDay, t0 + 2 * kSecondsPerDay};
    for (int64_t sample : samples) {
        long offset = 0;
        if (!UtcOffsetAt(sample, &offset) || offset != local.tm_gmtoff) return kIrregularDay;
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
