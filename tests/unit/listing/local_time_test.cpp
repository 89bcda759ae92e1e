// The memoised local-time conversion must agree with plain mktime everywhere: on ordinary
// days, on and around daylight-saving transitions, on skipped days and with fields that need
// normalising, in zones of every kind.
#include "listing/local_time.h"

#include <gtest/gtest.h>

#include <random>

#include "listing/listing_parser.h"
#include "listing_test_util.h"

namespace tarnwick {
namespace {

using test::ScopedTimeZone;

// Named zones are skipped when tzdata is missing; the POSIX rule strings always work.
const char* const kZones[] = {
    "UTC",
    "Europe/Berlin",
    "America/New_York",
    "America/Sao_Paulo",    // transitions at midnight (until 2019)
    "Australia/Lord_Howe",  // half-hour daylight saving
    "Pacific/Apia",         // skipped 30 December 2011
    "Asia/Kathmandu",       // +05:45
    "CET-1CEST,M3.5.0,M10.5.0/3",
    "<-03>3<-02>,M10.3.0/0,M2.3.0/0",  // POSIX rules switching at midnight
};

bool ZoneAvailable(const std::string& zone) {
    return zone.find(',') != std::string::npos || test::HaveZone(zone);
}

void ExpectSameAsMktime(LocalTimeCache& cache, const LocalFields& f) {
    const int64_t cached = cache.LocalTime(f);
    const int64_t plain = PlainLocalTime(f);
    ASSERT_EQ(cached, plain) << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":"
                             << f.minute;
}

class LocalTimeZoneTest : public ::testing::TestWithParam<const char*> {};

// Every day of a decade at the hours where transitions happen, plus a random minute.
TEST_P(LocalTimeZoneTest, EveryDayOfADecadeAgreesWithMktime) {
    if (!ZoneAvailable(GetParam())) GTEST_SKIP() << "no tzdata for " << GetParam();
    ScopedTimeZone zone(GetParam());
    LocalTimeCache& cache = LocalTimeCache::ForThisThread();
    cache.SyncWithTimeZone();
    std::mt19937 random(42);
    const int64_t times[][2] = {{0, 0}, {0, 30}, {1, 59}, {2, 0}, {2, 30}, {3, 0}, {23, 59}};
    for (int64_t year = 2008; year <= 2019; ++year) {
        for (int64_t month = 1; month <= 12; ++month) {
            for (int64_t day = 1; day <= 31; ++day) {
                for (const auto& [hour, minute] : times) {
                    ExpectSameAsMktime(cache, {year, month, day, hour, minute});
                }
                ExpectSameAsMktime(
                    cache, {year, month, day, int64_t(random() % 24), int64_t(random() % 60)});
            }
        }
    }
}

// Random fields over two centuries, one in ten out of range so that mktime normalises.
TEST_P(LocalTimeZoneTest, RandomFieldsAgreeWithMktime) {
    if (!ZoneAvailable(GetParam())) GTEST_SKIP() << "no tzdata for " << GetParam();
    ScopedTimeZone zone(GetParam());
    LocalTimeCache& cache = LocalTimeCache::ForThisThread();
    cache.SyncWithTimeZone();
    std::mt19937 random(7);
    auto pick = [&](int64_t low, int64_t high, int64_t oddLow, int64_t oddHigh) {
        if (random() % 10 == 0) return oddLow + int64_t(random() % (oddHigh - oddLow + 1));
        return low + int64_t(random() % (high - low + 1));
    };
    for (int i = 0; i < 40000; ++i) {
        const LocalFields f{pick(1950, 2150, 1800, 10100), pick(1, 12, -2, 14), pick(1, 31, -1, 33),
                            pick(0, 23, -2, 26), pick(0, 59, -1, 61)};
        ExpectSameAsMktime(cache, f);
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalTimeZoneTest, ::testing::ValuesIn(kZones));

TEST(LocalTimeCacheTest, ForgetsDaysWhenTheZoneChanges) {
    const std::string text = "-rw-r--r-- 1 u g 1 Jan 10 2005 a\n01-31-02 09:05PM 1 b\n";
    FileEntryList berlin;
    FileEntryList newYork;
    {
        ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        ParseListingText(berlin, text);
    }
    {
        ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
        ParseListingText(newYork, text);
        ASSERT_EQ(newYork.size(), 2u);
        EXPECT_EQ(test::LocalText(newYork[0].modified), "2005-01-10 00:00");
        EXPECT_EQ(test::LocalText(newYork[1].modified), "2002-01-31 21:05");
    }
    ASSERT_EQ(berlin.size(), 2u);
    EXPECT_EQ(newYork[0].modified - berlin[0].modified, 6 * 3600);
    EXPECT_EQ(newYork[1].modified - berlin[1].modified, 6 * 3600);
}

TEST(LocalTimeCacheTest, LocalYearFollowsTheZone) {
    LocalTimeCache& cache = LocalTimeCache::ForThisThread();
    const int64_t instant = 1704067200 - 1800;  // 2023-12-31 23:30 UTC
    {
        ScopedTimeZone zone("UTC");
        cache.SyncWithTimeZone();
        EXPECT_EQ(cache.LocalYear(instant), 2023);
    }
    {
        ScopedTimeZone zone("JST-9");
        cache.SyncWithTimeZone();
        EXPECT_EQ(cache.LocalYear(instant), 2024);
    }
}

}  // namespace
}  // namespace tarnwick
