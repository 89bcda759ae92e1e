// Text helpers shared across the program: trimming, reading numbers and hex digits, the
// stored form of passwords, log indentation, number formatting and splitting a viewer command
// line. No state; any thread may call them (SplitProgramAndArguments reads the file system).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "listing/listing_parser.h"

namespace tarnwick {

// The text without the field spaces (IsFieldSpace) at either end; this also removes the CR
// of a CR LF line end. Inline: the listing parser trims every line.
inline std::string_view TrimFieldSpaces(std::string_view text) {
    while (!text.empty() && IsFieldSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsFieldSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The value of a hex digit of either case, -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The number at the start of `text` as C's atoi reads it (an optional sign, then digits up to
// the first other character; 0 without digits), except that its magnitude saturates at
// `limit` (not negative) instead of overflowing. Inline: the listing parser reads several
// numbers a line.
inline int64_t LeadingInteger(std::string_view text, int64_t limit) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return negative ? -value : value;
}

// The form in which site passwords and the last quick-connect password are stored: for each
// byte its complement with the two 4-bit halves swapped, as two upper-case hex digits.
// Empty stays empty. Not encryption: it only keeps passwords from being read at a glance.
std::string EncodePassword(std::string_view password);

// The inverse of EncodePassword. A trailing odd character is ignored; decoding stops at the
// first pair that is not two hex digits (either case), returning what was decoded before it.
std::string DecodePassword(std::string_view encoded);

// Inserts two tab characters after every line feed that is not the last character, so that
// continuation lines line up under the log's prefixes.
std::string IndentContinuationLines(std::string_view text);

// ASCII letters compared without regard to case; every other byte as it is.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// The text with its ASCII letters in lower case.
std::string ToLowerAscii(std::string_view text);

// The value in radix 2 to 36 with lower-case digits; empty for another radix. In radix 10 a
// negative value gets a minus sign; in other radixes its 64-bit two's complement is shown.
std::string IntToString(int64_t value, int radix);

// A command line split into the program to start and its arguments.
struct ProgramAndArguments {
    std::string program;
    std::string arguments;
};

// Splits a command line (trimmed first). Without a space the whole line is the program.
// A line that starts with a drive ("C:...") or with "/" names a path that may contain
// spaces: the first prefix ending before a space that names an existing file (not a
// directory) is the program and the rest, trimmed, the arguments. If there is none:
// for a drive path the whole line is the program; for a "/" path the whole line if it
// names an existing file, else the text before the first space. Any other line is split at
// its first space unless the text before that space contains ":", in which case the whole
// line is the program.
ProgramAndArguments SplitProgramAndArguments(std::string_view commandLine);

}  // namespace tarnwick
