// Generated UNIX-style listing lines for the benchmarks (the parser's and the offline
// search's), so both feed the same kind of text: varied owners, sizes, dates of both forms
// ("HH:MM" for recent files, a year for older ones).
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

namespace tarnwick::bench {

inline std::string UnixListingLine(std::mt19937& random, bool directory, uint64_t size,
                                   std::string_view name) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* month = kMonths[random() % 12];
    const unsigned day = 1 + random() % 28;
    char timeOrYear[8];
    if (random() % 2) {
        std::snprintf(timeOrYear, sizeof timeOrYear, "%02u:%02u", unsigned(random() % 24),
                      unsigned(random() % 60));
    } else {
        std::snprintf(timeOrYear, sizeof timeOrYear, "%u", unsigned(1995 + random() % 30));
    }
    char fields[128];
    std::snprintf(fields, sizeof fields, "%s %3u user%-4u grp%-4u %12llu %s %2u %5s ",
                  directory ? "drwxr-xr-x" : "-rw-r--r--", unsigned(1 + random() % 20),
                  unsigned(random() % 50), unsigned(random() % 10),
                  static_cast<unsigned long long>(directory ? 4096 : size), month, day, timeOrYear);
    std::string line = fields;
    line.append(name);
    line += '\n';
    return line;
}

}  // namespace tarnwick::bench
