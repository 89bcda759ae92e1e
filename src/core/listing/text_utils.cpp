// Password text, log indentation, number formatting and command-line splitting.
#include "listing/text_utils.h"

#include <sys/stat.h>

#include <algorithm>

namespace tarnwick {

namespace {

constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";
constexpr std::string_view kLowerDigits = "0123456789abcdefghijklmnopqrstuvwxyz";

uint8_t SwapNibbles(uint8_t byte) {
    return static_cast<uint8_t>((byte << 4) | (byte >> 4));
}

bool IsExistingNonDirectory(std::string_view path) {
    struct stat info;
    const std::string name(path);
    return stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Tries each space from left to right (a run of spaces counts once): the first prefix that
// names an existing file is the program.
bool SplitAtExistingProgram(std::string_view line, ProgramAndArguments& result) {
    for (size_t space = line.find(' '); space != std::string_view::npos;
         space = line.find(' ', space + 1)) {
        if (line[space - 1] == ' ') continue;
        if (IsExistingNonDirectory(line.substr(0, space))) {
            result.program = std::string(line.substr(0, space));
            result.arguments = std::string(TrimFieldSpaces(line.substr(space + 1)));
            return true;
        }
    }
    return false;
}

ProgramAndArguments SplitAtFirstSpace(std::string_view line) {
    const size_t space = line.find(' ');
    return {std::string(line.substr(0, space)),
            std::string(TrimFieldSpaces(line.substr(space + 1)))};
}

}  // namespace

std::string EncodePassword(std::string_view password) {
    std::string encoded;
    encoded.reserve(password.size() * 2);
    for (char c : password) {
        const uint8_t byte = SwapNibbles(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
        encoded += kUpperHexDigits[byte >> 4];
        encoded += kUpperHexDigits[byte & 0x0f];
    }
    return encoded;
}

std::string DecodePassword(std::string_view encoded) {
    std::string password;
    password.reserve(encoded.size() / 2);
    for (size_t i = 0; i + 1 < encoded.size(); i += 2) {
        const int high = HexDigitValue(encoded[i]);
        const int low = HexDigitValue(encoded[i + 1]);
        if (high < 0 || low < 0) break;
        const auto byte = static_cast<uint8_t>(high * 16 + low);
        password += static_cast<char>(~SwapNibbles(byte));
    }
    return password;
}

std::string IndentContinuationLines(std::string_view text) {
    std::string indented;
    indented.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size(); ++i) {
        indented += text[i];
        if (text[i] == '\n' && i + 1 < text.size()) indented += "\t\t";
    }
    return indented;
}

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

std::string IntToString(int64_t value, int radix) {
    if (radix < 2 || radix > 36) return {};
    const bool negative = radix == 10 && value < 0;
    // Unsigned arithmetic: negating INT64_MIN as a signed number would overflow.
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (negative) magnitude = ~magnitude + 1;
    std::string digits;
    do {
        digits += kLowerDigits[magnitude % static_cast<uint64_t>(radix)];
        magnitude /= static_cast<uint64_t>(radix);
    } while (magnitude != 0);
    if (negative) digits += '-';
    std::reverse(digits.begin(), digits.end());
    return digits;
}

ProgramAndArguments SplitProgramAndArguments(std::string_view commandLine) {
    const std::string_view line = TrimFieldSpaces(commandLine);
    const size_t firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos) return {std::string(line), {}};

    const bool drivePath = line.size() > 1 && line[1] == ':';
    const bool posixPath = line.front() == '/';
    ProgramAndArguments result;
    if ((drivePath || posixPath) && SplitAtExistingProgram(line, result)) return result;
    if (posixPath) {
        // No prefix exists: the whole line may be a program whose name holds spaces;
        // otherwise fall back to the ordinary split.
        if (IsExistingNonDirectory(line)) return {std::string(line), {}};
        return SplitAtFirstSpace(line);
    }
    if (line.substr(0, firstSpace).find(':') == std::string_view::npos) {
        return SplitAtFirstSpace(line);
    }
    return {std::string(line), {}};
}

}  // namespace tarnwick
