#include "console.h"

#include <algorithm>

namespace tarnwick::cli {

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return out;
}

void Console::Write(std::string_view text) {
    if (text.empty()) return;
    std::lock_guard lock(mutex_);
    WipeProgressLocked();
    std::fwrite(text.data(), 1, text.size(), stream_);
    atLineStart_ = text.back() == '\n';
    std::fflush(stream_);
}

void Console::WriteLine(std::string_view text) {
    std::lock_guard lock(mutex_);
    WipeProgressLocked();
    if (!atLineStart_) std::fputc('\n', stream_);
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fputc('\n', stream_);
    atLineStart_ = true;
    std::fflush(stream_);
}

void Console::ShowProgress(std::string_view line) {
    std::lock_guard lock(mutex_);
    if (!atLineStart_) return;
    std::fputc('\r', stream_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    // Blanks over what is left of a longer previous line.
    for (size_t i = line.size(); i < progressWidth_; ++i) std::fputc(' ', stream_);
    progressWidth_ = std::max(line.size(), size_t{1});
    std::fflush(stream_);
}

void Console::ClearProgress() {
    std::lock_guard lock(mutex_);
    WipeProgressLocked();
    std::fflush(stream_);
}

void Console::WipeProgressLocked() {
    if (progressWidth_ == 0) return;
    std::fputc('\r', stream_);
    for (size_t i = 0; i < progressWidth_; ++i) std::fputc(' ', stream_);
    std::fputc('\r', stream_);
    progressWidth_ = 0;
}

}  // namespace tarnwick::cli
