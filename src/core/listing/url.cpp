// URL splitting and building.
#include "listing/url.h"

#include <array>
#include <cctype>

#include "listing/text_utils.h"

namespace tarnwick {

namespace {

struct KnownService {
    std::string_view scheme;
    ServiceType service;
    int defaultPort;
};

constexpr std::array<KnownService, 5> kKnownServices = {{
    {"ftp", kServiceFtp, 21},
    {"http", kServiceHttp, 80},
    {"https", kServiceHttps, 443},
    {"gopher", kServiceGopher, 70},
    {"file", kServiceFile, 0},
}};

bool IsAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), as in RFC 3986.
bool IsValidScheme(std::string_view scheme) {
    if (scheme.empty() || !IsAsciiAlpha(scheme.front())) return false;
    for (char c : scheme) {
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// Decodes "%XX" escapes; a "%" not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            decoded +=
                static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// A registered name or IPv4 address: no white space, controls, or characters that delimit
// other parts of a URL.
bool IsValidHostName(std::string_view host) {
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) return false;
        if (std::string_view("[]@\\?#/:").find(c) != std::string_view::npos) return false;
    }
    return true;
}

// The inside of "[...]": hex digits, ":" and "." (an embedded IPv4 address), optionally
// followed by a "%" zone identifier of letters, digits, "-", "_" and ".".
bool IsValidIpv6Literal(std::string_view address) {
    if (address.find(':') == std::string_view::npos) return false;
    const size_t zone = address.find('%');
    for (char c : address.substr(0, zone)) {
        if (HexDigitValue(c) < 0 && c != ':' && c != '.') return false;
    }
    if (zone == std::string_view::npos) return true;
    const std::string_view zoneId = address.substr(zone + 1);
    if (zoneId.empty()) return false;
    for (char c : zoneId) {
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != '-' && c != '_' && c != '.') {
            return false;
        }
    }
    return true;
}

// Port text: empty keeps the default; otherwise 1 to 65535 in decimal digits only.
bool ParsePort(std::string_view text, int& port) {
    if (text.empty()) return true;
    if (text.size() > 5) return false;
    int value = 0;
    for (char c : text) {
        if (!IsAsciiDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

// Splits "host[:port]" or "[v6]:port" into parts.server and parts.port.
bool ParseHostAndPort(std::string_view hostPort, UrlParts& parts) {
    std::string_view portText;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string_view::npos) return false;
        const std::string_view address = hostPort.substr(1, close - 1);
        if (!IsValidIpv6Literal(address)) return false;
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty() && after.front() != ':') return false;
        if (!after.empty()) portText = after.substr(1);
        parts.server = std::string(address);
    } else {
        const size_t colon = hostPort.find(':');
        const std::string_view host = hostPort.substr(0, colon);
        if (!IsValidHostName(host)) return false;
        if (colon != std::string_view::npos) portText = hostPort.substr(colon + 1);
        parts.server = std::string(host);
    }
    return ParsePort(portText, parts.port);
}

void ParseUserInfo(std::string_view userInfo, UrlParts& parts) {
    const size_t colon = userInfo.find(':');
    parts.user = PercentDecode(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) parts.password = PercentDecode(userInfo.substr(colon + 1));
}

void SetService(UrlParts& parts) {
    parts.service = kServiceOther;
    parts.port = 0;
    for (const KnownService& known : kKnownServices) {
        if (parts.scheme == known.scheme) {
            parts.service = known.service;
            parts.port = known.defaultPort;
        }
    }
}

}  // namespace

bool ParseUrl(std::string_view text, UrlParts& parts) {
    text = TrimFieldSpaces(text);
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos || !IsValidScheme(text.substr(0, schemeEnd))) {
        return false;
    }
    parts = UrlParts{};
    parts.scheme = ToLowerAscii(text.substr(0, schemeEnd));
    SetService(parts);

    const std::string_view rest = text.substr(schemeEnd + 3);
    const size_t pathStart = rest.find('/');
    std::string_view authority = rest.substr(0, pathStart);
    parts.path = pathStart == std::string_view::npos ? "/" : std::string(rest.substr(pathStart));

    // The last "@" ends the user information: a password may contain "@", a host may not.
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        ParseUserInfo(authority.substr(0, at), parts);
        authority.remove_prefix(at + 1);
    }
    if (!ParseHostAndPort(authority, parts)) return false;
    return !parts.server.empty() || parts.service == kServiceFile;
}

bool IsFtpUrl(std::string_view text) {
    UrlParts parts;
    return ParseUrl(text, parts) && parts.service == kServiceFtp;
}

ServiceType UrlServiceType(std::string_view text) {
    UrlParts parts;
    return ParseUrl(text, parts) ? parts.service : kServiceUnknown;
}

std::string UrlPath(std::string_view url) {
    const size_t slash = url.find('/', 6);
    return slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
}

std::string MakeFtpUrl(std::string_view host, std::string_view remotePath) {
    std::string url = "ftp://";
    const bool needsBrackets =
        host.find(':') != std::string_view::npos && (host.empty() || host.front() != '[');
    if (needsBrackets) url += '[';
    url += host;
    if (needsBrackets) url += ']';
    url += remotePath;
    return url;
}

}  // namespace tarnwick
