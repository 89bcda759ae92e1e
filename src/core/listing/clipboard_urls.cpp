// Building and reading the clipboard data of URL sets.
#include "listing/clipboard_urls.h"

#include <algorithm>

#include "listing/url.h"

namespace tarnwick {

std::string JoinClipboardText(const std::vector<std::string>& texts) {
    std::string joined;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) joined += "\r\n";
        joined += texts[i];
    }
    return joined;
}

std::string EncodeUrlBlock(uint32_t tag, const std::vector<std::string>& texts) {
    std::string block;
    for (int shift = 0; shift < 32; shift += 8) block += static_cast<char>((tag >> shift) & 0xff);
    block += JoinClipboardText(texts);
    block += '\0';
    return block;
}

bool DecodeUrlBlock(std::string_view block, uint32_t& tag, std::string& text) {
    if (block.size() < 5) return false;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(block[i]);
    tag = value;
    const std::string_view body = block.substr(4);
    text = std::string(body.substr(0, body.find('\0')));
    return true;
}

bool SplitClipboardUrls(std::string_view text, std::vector<std::string>& urls) {
    // One pass over the text; runs of line feeds separate like one, as GetFieldByChar does.
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        if (!IsFtpUrl(piece)) return false;
        urls.emplace_back(piece);
    }
    return true;
}

}  // namespace tarnwick
