// The data of a URL set on the clipboard, as pure functions. Panes exchange lists of URLs
// (or local paths) through the clipboard as plain text and, next to it, as a "Tarnwick URL"
// block (MIME type application/x-tarnwick-url) that also carries a tag naming the source
// pane. The clipboard calls themselves belong to the front end; these functions only build
// and read the data, so any thread may call them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

inline constexpr std::string_view kUrlClipboardFormat = "Tarnwick URL";
inline constexpr std::string_view kUrlClipboardMimeType = "application/x-tarnwick-url";

// A set of URLs or local paths plus the tag of the pane that produced it (0 when unknown,
// for instance when the set was read from plain text).
struct UrlSet {
    std::vector<std::string> urls;
    uint32_t tag = 0;
};

// The plain text of a set: the texts joined with CR LF, no separator after the last.
std::string JoinClipboardText(const std::vector<std::string>& texts);

// The "Tarnwick URL" block: the tag as 32-bit little-endian, the joined text, a zero byte.
// Its size is the text's length + 5.
std::string EncodeUrlBlock(uint32_t tag, const std::vector<std::string>& texts);

// Reads a block: the tag from its first four bytes and the text up to the first zero byte
// (or the end of the block). False, leaving the outputs untouched, for a block shorter than
// 5 bytes.
bool DecodeUrlBlock(std::string_view block, uint32_t& tag, std::string& text);

// Splits clipboard text into ftp URLs: the text is cut at line feeds (empty pieces vanish)
// and the pieces are not trimmed, so a CR stays at the end of its piece. Each piece in turn
// must be an ftp URL and is appended to `urls`; the first piece that is not one stops the
// split with false (the URLs taken so far stay). True when every piece was an ftp URL.
bool SplitClipboardUrls(std::string_view text, std::vector<std::string>& urls);

}  // namespace tarnwick
