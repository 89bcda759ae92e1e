#include "ftp/replies.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "session/session_observer.h"

namespace tarnwick {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// Whether a parsed reply still waits for more: a lone preliminary reply, or the report of
// the broken transfer that comes before the answer to ABOR.
bool AwaitsMoreReplies(const ReplyParse& parse, std::string_view lastVerb) {
    if (parse.count != 1) return false;
    const std::string& code = parse.codes[0];
    if (code[0] == '1') return true;
    return lastVerb == "abor" && (code == "426" || code == "451");
}

// The value of the decimal number at the start of `text` (after blanks), -1 when there is
// none or it is unreasonably long.
long LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    long value = 0;
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
        if (digits == 9) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return digits == 0 ? -1 : value;
}

int Sign(int64_t a, int64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}
int Sign(uint64_t a, uint64_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

ReplyParse ParseReplyText(std::string_view text, std::string_view lastVerb) {
    ReplyParse parse;
    if (text.size() < 5 || text.back() != '\n') {
        parse.status = -1;
        return parse;
    }
    bool inMultiLine = false;
    size_t pos = 0;
    while (pos < text.size()) {
        std::string_view code = text.substr(pos, 3);
        bool dash = pos + 3 < text.size() && text[pos + 3] == '-';
        if (!inMultiLine) {
            if (code.size() < 3 || !AllDigits(code) || parse.count == kMaxReplyCodes) {
                parse.status = -1;
                return parse;
            }
            inMultiLine = dash;
            parse.codes[parse.count++] = std::string(code);
        } else if (code == parse.codes[parse.count - 1] && !dash) {
            inMultiLine = false;  // the closing line: the same code followed by a blank
        }
        size_t lineFeed = text.find('\n', pos);
        if (lineFeed == std::string_view::npos) break;
        pos = lineFeed + 1;
    }
    parse.complete = parse.count > 0 && !inMultiLine && !AwaitsMoreReplies(parse, lastVerb);
    return parse;
}

bool IsTransferPair(const std::string* codes, int count) {
    return count == 2 && codes[0].starts_with('1') && codes[1].starts_with('2');
}

std::string SocketErrorText(int error) {
    static constexpr std::pair<int, const char*> kTexts[] = {
        {10004, "Interrupted system call."},
        {10009, "Bad file number."},
        {10013, "Permission denied."},
        {10014, "Bad address."},
        {10022, "Invalid host address or network is down."},
        {10024, "Too many open files."},
        {10035, "Operation would block."},
        {10036, "Operation now in progress."},
        {10037, "Operation already in progress."},
        {10038, "Socket operation on nonsocket."},
        {10039, "Destination address required."},
        {10040, "Message too long."},
        {10041, "Protocol wrong type for socket."},
        {10042, "Protocol not available."},
        {10043, "Protocol not supported."},
        {10044, "Socket type not supported."},
        {10045, "Operation not supported on socket."},
        {10046, "Protocol family not supported."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10050, "Network is down."},
        {10051, "Network is unreachable."},
        {10052, "Network dropped connection on reset."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10056, "Socket is already connected."},
        {10057, "Socket is not connected."},
        {10058, "Cannot send after socket shutdown."},
        {10059, "Too many references: cannot splice."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10062, "Too many levels of symbolic links."},
        {10063, "File name too long."},
        {10064, "Host is down."},
        {10065, "No route to host."},
        {10091, "The network subsystem is unusable."},
        {10092, "Windows Sockets DLL cannot support this application."},
        {10093, "Winsock not initialized."},
        {10101, "Socket already disconnected."},
        {11001, "Host not found."},
        {11002, "Nonauthoritative host not found."},
        {11003, "Nonrecoverable error."},
        {11004, "Valid name, no data record of requested type."},
    };
    if (error == 0) return {};
    for (const auto& [number, text] : kTexts) {
        if (number == error) return text;
    }
    return "socket error code=" + std::to_string(error);
}

std::string CommandLogText(std::string_view line) {
    std::string logged(line);
    if (logged.starts_with("pass") && logged.size() > 5) {
        std::fill(logged.begin() + 5, logged.end(), '*');
    }
    return logged;
}

std::string FirstWord(std::string_view line) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return {};
    size_t end = line.find_first_of(" \t", start);
    return std::string(line.substr(start, end == std::string_view::npos ? end : end - start));
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string DirectoryFromPwdReply(std::string_view replyText) {
    if (replyText.size() <= 5) return {};
    const size_t open = replyText.find('"', 4);
    if (open == std::string_view::npos) return {};
    // A quote inside the name is doubled; a single quote closes it.
    std::string directory;
    for (size_t i = open + 1; i < replyText.size(); ++i) {
        if (replyText[i] != '"') {
            directory += replyText[i];
        } else if (i + 1 < replyText.size() && replyText[i + 1] == '"') {
            directory += '"';
            ++i;
        } else {
            return directory;
        }
    }
    return {};  // no closing quote
}

int64_t TransferSizeFromReply(std::string_view replyText) {
    const std::string_view line = replyText.substr(0, replyText.find('\n'));
    for (size_t open = line.find('('); open != std::string_view::npos;
         open = line.find('(', open + 1)) {
        size_t end = open + 1;
        int64_t size = 0;
        while (end < line.size() && end - open <= 18 && line[end] >= '0' && line[end] <= '9') {
            size = size * 10 + (line[end] - '0');
            ++end;
        }
        if (end > open + 1 && end - open <= 19 && line.substr(end).starts_with(" bytes)")) {
            return size;
        }
    }
    return -1;
}

bool ParsePasvReply(std::string_view replyText, std::string& host, int& port) {
    host.clear();
    port = 0;
    size_t open = replyText.find('(');
    size_t close = replyText.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
        return false;
    }
    std::string_view inner = replyText.substr(open + 1, close - open - 1);
    std::array<std::string_view, 6> fields;
    size_t count = 0;
    size_t pos = 0;
    while (count < fields.size()) {
        size_t comma = inner.find(',', pos);
        fields[count++] = inner.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    if (count < fields.size()) return false;
    long high = LeadingNumber(fields[4]);
    long low = LeadingNumber(fields[5]);
    if (high < 0 || low < 0 || high > 255 || low > 255) return false;
    host = std::string(fields[0]) + "." + std::string(fields[1]) + "." + std::string(fields[2]) +
           "." + std::string(fields[3]);
    port = static_cast<int>(high * 256 + low);
    return true;
}

std::string MakePortCommand(std::string_view localAddress, int port) {
    std::string address(localAddress);
    std::replace(address.begin(), address.end(), '.', ',');
    return "port " + address + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

bool ParseEpsvReply(std::string_view replyText, int& port) {
    port = 0;
    const size_t open = replyText.find('(');
    if (open == std::string_view::npos || replyText.size() - open < 6) return false;
    const std::string_view inner = replyText.substr(open + 1);
    const char delimiter = inner[0];
    if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9')) return false;
    if (inner[1] != delimiter || inner[2] != delimiter) return false;
    const size_t end = inner.find(delimiter, 3);
    if (end == std::string_view::npos || end == 3 || end > 8) return false;
    if (end + 1 >= inner.size() || inner[end + 1] != ')') return false;
    long value = 0;
    for (const char c : inner.substr(3, end - 3)) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

std::string MakeEprtCommand(std::string_view localAddress, int port) {
    const bool v6 = localAddress.find(':') != std::string_view::npos;
    return std::string("eprt |") + (v6 ? "2|" : "1|") + std::string(localAddress) + "|" +
           std::to_string(port) + "|";
}

int OverwriteCase(bool upload, int64_t sourceTime, int64_t targetTime, uint64_t sourceSize,
                  uint64_t targetSize) {
    int t = Sign(sourceTime, targetTime);
    int s = Sign(sourceSize, targetSize);
    return 9 * (upload ? 1 : 0) + 3 * (t + 1) + (s + 1);
}

int AutoOverwriteAction(int overwriteCase) {
    // Rows: source older, same time, newer; columns: source smaller, same size, bigger.
    // clang-format off
    static constexpr int kRule[kOverwriteCases] = {
        // download
        kSkip,      kSkip,      kSkip,
        kOverwrite, kSkip,      kResume,
        kOverwrite, kOverwrite, kOverwrite,
        // upload
        kSkip,      kSkip,      kResume,
        kOverwrite, kSkip,      kResume,
        kOverwrite, kOverwrite, kOverwrite,
    };
    // clang-format on
    if (overwriteCase < 0 || overwriteCase >= kOverwriteCases) return kSkip;
    return kRule[overwriteCase];
}

std::string OverwriteActionName(int action) {
    switch (action) {
        case kSkip:
            return "Skip";
        case kResume:
            return "Resume";
        case kOverwrite:
            return "Overwrite";
        default:
            return "Undefined Action";
    }
}

int AutoTransferType(std::string_view fileName, std::string_view textFileExtensions) {
    size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size()) return 1;
    std::string_view extension = fileName.substr(dot + 1);
    size_t pos = 0;
    while (pos <= textFileExtensions.size()) {
        size_t end = textFileExtensions.find(';', pos);
        if (end == std::string_view::npos) end = textFileExtensions.size();
        if (textFileExtensions.substr(pos, end - pos) == extension) return 0;
        pos = end + 1;
    }
    return 1;
}

}  // namespace tarnwick
