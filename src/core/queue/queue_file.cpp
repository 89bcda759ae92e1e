// Queue file writing and reading.
#include "queue/queue_file.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "listing/line_reader.h"

namespace tarnwick {

namespace {

bool StorableText(std::string_view text) {
    return text.find_first_of("\t\n") == std::string_view::npos;
}

// Appends the section, or nothing when none of its items can be stored; counts the items
// left out.
void FormatSection(const QueueSection& section, std::string& out, size_t& skippedItems) {
    if (section.hostAddress.find('\n') != std::string::npos) {
        skippedItems += section.items.size();
        return;
    }
    std::string lines;
    for (const auto& item : section.items) {
        if (!WriteQueueItem(*item, lines)) ++skippedItems;
    }
    if (lines.empty()) return;
    out += '[';
    out += section.hostAddress;
    out += "]\n";
    out += lines;
    out += '\n';
}

std::string_view TrimBlanks(std::string_view line) {
    const size_t first = line.find_first_not_of(" \r");
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(" \r");
    return line.substr(first, last - first + 1);
}

// A decimal integer at the start of the field, after white space and a sign, the way a C
// decimal conversion reads it; nothing when there are no digits. Values from INT32_MIN to
// UINT32_MAX are taken, the unsigned ones as the same 32 bits; beyond that is no number.
std::optional<int32_t> ParseDecimal(std::string_view field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= 9 && field[i] <= 13))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    const size_t firstDigit = i;
    int64_t magnitude = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (field[i] - '0');
        if (magnitude > int64_t{std::numeric_limits<uint32_t>::max()}) return std::nullopt;
    }
    if (i == firstDigit) return std::nullopt;
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min()) return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Splits at every TAB: n TABs give n + 1 fields, empty ones included.
std::vector<std::string_view> SplitAtTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

enum Column : size_t { kKind, kServerPath, kOperation, kClientPath, kSizeHigh, kSizeLow };

std::shared_ptr<QueueItem> ParseItemLine(std::string_view line) {
    auto item = std::make_shared<QueueItem>();
    const std::vector<std::string_view> fields = SplitAtTabs(line);
    auto number = [&](Column column) {
        return column < fields.size() ? ParseDecimal(fields[column]) : std::nullopt;
    };
    if (auto kind = number(kKind)) item->kind = static_cast<QueueItemKind>(*kind);
    if (fields.size() > kServerPath) item->serverPath = fields[kServerPath];
    if (auto operation = number(kOperation)) {
        item->operation = static_cast<QueueOperation>(*operation);
    }
    if (fields.size() > kClientPath) item->clientPath = fields[kClientPath];
    // Without its low half a size stays unknown: a high half alone would make up a size.
    if (auto low = number(kSizeLow)) {
        item->sizeHigh = number(kSizeHigh).value_or(0);
        item->sizeLow = *low;
    }
    return item;
}

// Follows the sections of a queue file line by line.
class SectionReader {
public:
    explicit SectionReader(QueueFileContents& contents) : contents_(contents) {}

    void TakeLine(std::string_view rawLine) {
        const std::string_view line = TrimBlanks(rawLine);
        // An item line starts with its kind, a number, so a "[" line is always a header,
        // even where a damaged file lacks the empty line before it.
        if (!line.empty() && line.front() == '[') {
            const std::string_view host =
                line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string_view();
            contents_.sections.push_back({std::string(host), {}});
            inSection_ = true;
        } else if (inSection_ && line.empty()) {
            inSection_ = false;
        } else if (inSection_) {
            contents_.sections.back().items.push_back(ParseItemLine(line));
        }
    }

private:
    QueueFileContents& contents_;
    bool inSection_ = false;
};

}  // namespace

bool WriteQueueItem(const QueueItem& item, std::string& out) {
    if (!StorableText(item.serverPath) || !StorableText(item.clientPath)) return false;
    out += std::to_string(static_cast<int>(item.kind));
    out += '\t';
    out += item.serverPath;
    out += '\t';
    out += std::to_string(static_cast<int>(item.operation));
    out += '\t';
    out += item.clientPath;
    out += '\t';
    out += std::to_string(item.sizeHigh);
    out += '\t';
    out += std::to_string(item.sizeLow);
    out += '\n';
    return true;
}

QueueSaveResult SaveQueues(const std::string& path, const std::vector<QueueSection>& sections) {
    QueueSaveResult result;
    std::string text;
    for (const auto& section : sections) FormatSection(section, text, result.skippedItems);
    result.write = WriteFileAtomically(path, text);
    return result;
}

QueueFileContents ReadQueueFile(const std::string& path) {
    QueueFileContents contents;
    std::error_code ignored;
    // A directory opens for reading but holds no lines; it is no queue file either.
    if (std::filesystem::is_directory(path, ignored)) {
        contents.error = "Can't open" + path;
        return contents;
    }
    LineReader in(path, kMaxQueueLineLength);
    if (!in.IsOpen()) {
        contents.error = "Can't open" + path;
        return contents;
    }
    contents.opened = true;
    SectionReader reader(contents);
    std::string_view line;
    for (size_t lineNumber = 1;; ++lineNumber) {
        switch (in.Next(line)) {
            case LineStatus::kLine:
                reader.TakeLine(line);
                continue;
            case LineStatus::kTooLong:
                contents.warnings.push_back("Skipped line " + std::to_string(lineNumber) + " of " +
                                            path + ": longer than " +
                                            std::to_string(kMaxQueueLineLength) + " bytes");
                continue;
            case LineStatus::kError:
                contents.warnings.push_back("Read error in " + path + " after line " +
                                            std::to_string(lineNumber - 1));
                return contents;
            case LineStatus::kEnd:
                return contents;
        }
    }
}

}  // namespace tarnwick
