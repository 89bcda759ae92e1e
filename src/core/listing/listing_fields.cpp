// Field operations over listing lines and other whitespace- or character-separated text.
#include <array>

#include "listing/listing_parser.h"

namespace tarnwick {

namespace {

// Finds field n of `text`, fields being maximal runs of characters for which isSep is false.
template <typename IsSep>
std::string_view NthField(std::string_view text, int n, IsSep isSep, size_t* start = nullptr) {
    size_t i = 0;
    const size_t end = text.size();
    for (int field = 0; n >= 0; ++field) {
        while (i < end && isSep(text[i])) ++i;
        if (i == end) break;
        size_t j = i;
        while (j < end && !isSep(text[j])) ++j;
        if (field == n) {
            if (start) *start = i;
            return text.substr(i, j - i);
        }
        i = j;
    }
    if (start) *start = std::string_view::npos;
    return {};
}

}  // namespace

std::string_view GetField(std::string_view line, int n) {
    return NthField(line, n, IsFieldSpace);
}

std::string_view GetFieldByChar(std::string_view text, int n, char separator) {
    return NthField(text, n, [separator](char c) { return c == separator; });
}

int FieldStart(std::string_view line, int n) {
    size_t start;
    NthField(line, n, IsFieldSpace, &start);
    return start == std::string_view::npos ? -1 : static_cast<int>(start);
}

int MonthFromName(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (size_t i = 0; i < kMonths.size(); ++i) {
        if (text == kMonths[i]) return static_cast<int>(i) + 1;
    }
    return 0;
}

std::string FormatFileSize(uint32_t sizeHigh, uint32_t sizeLow) {
    if (sizeHigh != 0) return ">4GB";
    std::string digits = std::to_string(sizeLow);
    std::string text;
    text.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace tarnwick
