// Text helpers shared across the program: the stored form of passwords, log indentation,
// number formatting and splitting a viewer command line. No state; any thread may call them
// (SplitProgramAndArguments reads the file system).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

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
