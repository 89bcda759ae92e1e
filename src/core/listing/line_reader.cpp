// Bounded line reading.
#include "listing/line_reader.h"

namespace tarnwick {

LineReader::LineReader(const std::string& path, size_t maxLength)
    : file_(std::fopen(path.c_str(), "rbe")), maxLength_(maxLength) {}

LineStatus LineReader::Next(std::string& line) {
    line.clear();
    bool tooLong = false;
    int c;
    while ((c = std::getc(file_.get())) != EOF && c != '\n') {
        // One byte beyond the bound is kept so that a "\r" ending a full-length line fits.
        if (line.size() > maxLength_) {
            tooLong = true;
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(file_.get())) return LineStatus::kError;
    if (c == EOF && line.empty() && !tooLong) return LineStatus::kEnd;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tooLong || line.size() > maxLength_) {
        line.clear();
        return LineStatus::kTooLong;
    }
    return LineStatus::kLine;
}

}  // namespace tarnwick
