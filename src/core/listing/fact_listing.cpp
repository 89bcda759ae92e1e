// Machine listings and UTC fact times.
#include "listing/fact_listing.h"

#include <cstdio>

#include "listing/text_utils.h"

namespace tarnwick {

namespace {

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return !text.empty();
}

int64_t Number(std::string_view digits) {
    int64_t value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

// A size fact: an unsigned 64-bit number, 0 when it is none or does not fit.
uint64_t SizeValue(std::string_view digits) {
    if (!AllDigits(digits)) return 0;
    uint64_t value = 0;
    for (char c : digits) {
        const auto digit = static_cast<unsigned>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int64_t year, int64_t month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The first word of the line (the facts, ending in ";") and the name after its space.
bool SplitFactLine(std::string_view line, std::string_view& facts, std::string_view& name) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 0 || line[space - 1] != ';') return false;
    facts = line.substr(0, space);
    name = line.substr(space + 1);
    return !name.empty();
}

// Calls take(name, value) for each fact; false if one is not "name=value".
template <typename Take>
bool ForEachFact(std::string_view facts, Take take) {
    while (!facts.empty()) {
        const size_t end = facts.find(';');
        const std::string_view fact = facts.substr(0, end);
        facts.remove_prefix(end + 1);
        const size_t equals = fact.find('=');
        if (equals == std::string_view::npos || equals == 0) return false;
        take(fact.substr(0, equals), fact.substr(equals + 1));
    }
    return true;
}

// An octal mode ("0755", "755") as "rwxr-xr-x" after the type character; empty when it is
// no octal number.
std::string ModeText(char type, std::string_view octal) {
    if (octal.empty()) return {};
    unsigned mode = 0;
    for (char c : octal) {
        if (c < '0' || c > '7') return {};
        mode = (mode << 3) | static_cast<unsigned>(c - '0');
    }
    std::string text(1, type);
    for (int shift = 6; shift >= 0; shift -= 3) {
        const unsigned bits = (mode >> shift) & 7;
        text += (bits & 4) ? 'r' : '-';
        text += (bits & 2) ? 'w' : '-';
        text += (bits & 1) ? 'x' : '-';
    }
    return text;
}

}  // namespace

bool IsFactLine(std::string_view line) {
    std::string_view facts;
    std::string_view name;
    return SplitFactLine(line, facts, name) &&
           ForEachFact(facts, [](std::string_view, std::string_view) {});
}

FactLineKind ParseFactLine(FileEntry& entry, std::string_view line) {
    std::string_view facts;
    std::string_view name;
    if (!SplitFactLine(line, facts, name)) return FactLineKind::kMalformed;
    std::string_view type;
    std::string_view mode;
    std::string_view perm;
    bool link = false;
    const bool wellFormed = ForEachFact(facts, [&](std::string_view fact, std::string_view value) {
        if (EqualsIgnoringCase(fact, "type")) {
            type = value;
        } else if (EqualsIgnoringCase(fact, "size")) {
            entry.SetSize(SizeValue(value));
        } else if (EqualsIgnoringCase(fact, "modify")) {
            entry.modified = ParseFactTime(value);
        } else if (EqualsIgnoringCase(fact, "unix.mode")) {
            mode = value;
        } else if (EqualsIgnoringCase(fact, "perm")) {
            perm = value;
        } else if (EqualsIgnoringCase(fact, "OS.unix") ||
                   EqualsIgnoringCase(fact, "type.os.unix")) {
            link = link || EqualsIgnoringCase(value.substr(0, 5), "slink") ||
                   EqualsIgnoringCase(value.substr(0, 7), "symlink");
        }
    });
    if (!wellFormed) return FactLineKind::kMalformed;
    // "type=OS.unix=symlink" splits at its first "=": the rest is the value.
    if (EqualsIgnoringCase(type.substr(0, 8), "OS.unix=")) {
        const std::string_view kind = type.substr(8);
        link = EqualsIgnoringCase(kind.substr(0, 5), "slink") ||
               EqualsIgnoringCase(kind.substr(0, 7), "symlink");
    }
    if (EqualsIgnoringCase(type, "cdir") || EqualsIgnoringCase(type, "pdir")) {
        return FactLineKind::kDirectory;
    }
    entry.isDirectory = link || EqualsIgnoringCase(type, "dir");
    entry.name.assign(name);
    const char typeChar = link ? 'l' : entry.isDirectory ? 'd' : '-';
    // Some servers write the mode with a "0o" prefix ("0o644").
    if (mode.size() > 2 && mode[0] == '0' && (mode[1] == 'o' || mode[1] == 'O'))
        mode.remove_prefix(2);
    entry.attributes = ModeText(typeChar, mode.size() > 4 ? mode.substr(mode.size() - 4) : mode);
    if (entry.attributes.empty()) entry.attributes.assign(perm);
    return FactLineKind::kEntry;
}

int64_t ParseFactTime(std::string_view text) {
    const size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        if (!AllDigits(text.substr(dot + 1))) return -1;
        text = text.substr(0, dot);
    }
    if (text.size() != 14 || !AllDigits(text)) return -1;
    const int64_t year = Number(text.substr(0, 4));
    const int64_t month = Number(text.substr(4, 2));
    const int64_t day = Number(text.substr(6, 2));
    const int64_t hour = Number(text.substr(8, 2));
    const int64_t minute = Number(text.substr(10, 2));
    const int64_t second = Number(text.substr(12, 2));
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 60) {
        return -1;
    }
    return ((DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
}

std::string FormatFactTime(int64_t seconds) {
    if (seconds < 0 || seconds >= 253402300800) return {};  // 10000-01-01
    const int64_t days = seconds / 86400;
    const int64_t rest = seconds % 86400;
    // Civil date from days since 1970 (inverse of DaysFromCivil).
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld%02lld%02lld%02lld%02lld%02lld",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

}  // namespace tarnwick
