// Helpers shared by the listing tests: a pinned time zone, a pinned clock, local time text.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnwick::test {

// Sets TZ for the lifetime of the object and restores the previous value.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> old_;
};

inline bool HaveZone(const std::string& name) {
    return std::filesystem::exists("/usr/share/zoneinfo/" + name);
}

// "YYYY-MM-DD HH:MM" of an instant in the current zone (localtime, the inverse of what the
// parser computes, so it checks the parser's result independently).
inline std::string LocalText(int64_t t) {
    const time_t instant = static_cast<time_t>(t);
    tm local{};
    if (!localtime_r(&instant, &local)) return "invalid";
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

// The instant of an unambiguous local time in the current zone.
inline int64_t LocalInstant(int year, int month, int day, int hour, int minute) {
    tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
}

// A clock the tests set: the parser takes a plain function pointer.
inline int64_t g_fixedNow = 0;
inline int64_t FixedNow() {
    return g_fixedNow;
}

}  // namespace tarnwick::test
