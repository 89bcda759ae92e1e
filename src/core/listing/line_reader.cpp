// Bounded line reading in chunks.
#include "listing/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnwick {

namespace {

constexpr size_t kChunkSize = 64 * 1024;

}  // namespace

LineReader::LineReader(const std::string& path, size_t maxLength)
    : maxLength_(maxLength),
      buffer_(kChunkSize, '\0'),
      file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)),
      openError_(file_.IsOpen() ? 0 : errno) {}

LineStatus LineReader::Next(std::string_view& line) {
    if (!IsOpen()) return LineStatus::kError;
    pending_.clear();
    bool tooLong = false;
    for (;;) {
        const char* begin = buffer_.data() + begin_;
        const char* feed = static_cast<const char*>(std::memchr(begin, '\n', end_ - begin_));
        const size_t length = feed ? static_cast<size_t>(feed - begin) : end_ - begin_;
        if (feed && pending_.empty() && !tooLong) {  // the common case: no copy
            begin_ += length + 1;
            return Finish(std::string_view(begin, length), line);
        }
        if (!tooLong) {
            // One byte beyond the bound is kept, for the "\r" that may end a full-length line.
            tooLong = pending_.size() + length > maxLength_ + 1;
            if (tooLong) {
                pending_.clear();
            } else {
                pending_.append(begin, length);
            }
        }
        begin_ += length;
        if (feed) {
            ++begin_;
            break;
        }
        const Refilled refilled = Refill();
        if (refilled == Refilled::kError) return LineStatus::kError;
        if (refilled == Refilled::kEnd) {
            if (!tooLong && pending_.empty()) return LineStatus::kEnd;
            break;  // the last line has no line feed
        }
    }
    return tooLong ? LineStatus::kTooLong : Finish(pending_, line);
}

LineReader::Refilled LineReader::Refill() {
    ssize_t got;
    do {
        got = ::read(file_.get(), buffer_.data(), buffer_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) return Refilled::kError;
    begin_ = 0;
    end_ = static_cast<size_t>(got);
    return got == 0 ? Refilled::kEnd : Refilled::kData;
}

LineStatus LineReader::Finish(std::string_view text, std::string_view& line) const {
    if (text.ends_with('\r')) text.remove_suffix(1);
    if (text.size() > maxLength_) return LineStatus::kTooLong;
    line = text;
    return LineStatus::kLine;
}

}  // namespace tarnwick
