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
    TlsMode tls;
};

constexpr std::array<KnownService, 7> kKnownServices = {{
    {"ftp", kServiceFtp, 21, kTlsNone},
    {"ftpes", kServiceFtp, 21, kTlsExplicit},
    {"ftps", kServiceFtp, 990, kTlsImplicit},
    {"http", kServiceHttp, 80, kTlsNone},
    {"https", kServiceHttps, 443, kTlsNone},
    {"gopher", kServiceGopher, 70, kTlsNone},
    {"file", kServiceFile, 0, kTlsNone},
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

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

// Decodes "%XX" escapes of `text` (the URL's `what`) into `decoded`. False, with `error`
// set, for a "%" without two hex digits after it, or an escape that gives a control
// character or (with `slashAllowed` false) a "/".
bool PercentDecode(std::string_view text, std::string_view what, bool slashAllowed,
                   std::string& decoded, std::string& error) {
    decoded.clear();
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        const std::string_view escape = text.substr(i, 3);
        if (escape.size() < 3 || HexDigitValue(escape[1]) < 0 || HexDigitValue(escape[2]) < 0) {
            error = "bad escape '" + std::string(escape) + "' in the " + std::string(what) +
                    " (write a \"%\" as \"%25\")";
            return false;
        }
        const auto byte =
            static_cast<unsigned char>(HexDigitValue(escape[1]) * 16 + HexDigitValue(escape[2]));
        if (IsControl(byte) || (byte == '/' && !slashAllowed)) {
            error = "the escape '" + std::string(escape) + "' in the " + std::string(what) +
                    (byte == '/' ? " would put a \"/\" inside a name"
                                 : " stands for a control character");
            return false;
        }
        decoded += static_cast<char>(byte);
        i += 2;
    }
    return true;
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

bool ParseUserInfo(std::string_view userInfo, UrlParts& parts, std::string& error) {
    const size_t colon = userInfo.find(':');
    if (!PercentDecode(userInfo.substr(0, colon), "user name", true, parts.user, error)) {
        return false;
    }
    return colon == std::string_view::npos ||
           PercentDecode(userInfo.substr(colon + 1), "password", true, parts.password, error);
}

void SetService(UrlParts& parts) {
    parts.service = kServiceOther;
    parts.port = 0;
    for (const KnownService& known : kKnownServices) {
        if (parts.scheme == known.scheme) {
            parts.service = known.service;
            parts.port = known.defaultPort;
            parts.tls = known.tls;
        }
    }
}

}  // namespace

bool ParseUrl(std::string_view text, UrlParts& parts, std::string& error) {
    text = TrimFieldSpaces(text);
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos || !IsValidScheme(text.substr(0, schemeEnd))) {
        error = "not a URL: '" + std::string(text) + "'";
        return false;
    }
    parts = UrlParts{};
    parts.scheme = ToLowerAscii(text.substr(0, schemeEnd));
    SetService(parts);

    const std::string_view rest = text.substr(schemeEnd + 3);
    const size_t pathStart = rest.find('/');
    std::string_view authority = rest.substr(0, pathStart);
    if (pathStart == std::string_view::npos) {
        parts.path = "/";
    } else if (parts.service != kServiceFtp && parts.service != kServiceFile) {
        parts.path = std::string(rest.substr(pathStart));  // another service's own syntax
    } else if (!PercentDecode(rest.substr(pathStart), "path", false, parts.path, error)) {
        return false;
    }

    // The last "@" ends the user information: a password may contain "@", a host may not.
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        if (!ParseUserInfo(authority.substr(0, at), parts, error)) return false;
        authority.remove_prefix(at + 1);
    }
    if (!ParseHostAndPort(authority, parts) ||
        (parts.server.empty() && parts.service != kServiceFile)) {
        error = "bad host or port '" + std::string(authority) + "'";  // not the password
        return false;
    }
    return true;
}

bool ParseUrl(std::string_view text, UrlParts& parts) {
    std::string error;
    return ParseUrl(text, parts, error);
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
    // Just past the "://" (index 6 for "ftp://"; later for "ftpes://" and "ftps://").
    const size_t scheme = url.find("://");
    const size_t slash = url.find('/', scheme == std::string_view::npos ? 6 : scheme + 3);
    if (slash == std::string_view::npos) return "/";
    std::string path;
    std::string error;
    if (!PercentDecode(url.substr(slash), "path", false, path, error))
        return std::string(url.substr(slash));
    return path;
}

std::string EncodeUrlPath(std::string_view path) {
    constexpr std::string_view kEscaped = " \"#%<>?[\\]^`{|}";
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte) || kEscaped.find(c) != std::string_view::npos) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xf];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string MakeFtpUrl(std::string_view host, std::string_view remotePath) {
    std::string url = "ftp://";
    const bool needsBrackets =
        host.find(':') != std::string_view::npos && (host.empty() || host.front() != '[');
    if (needsBrackets) url += '[';
    url += host;
    if (needsBrackets) url += ']';
    url += EncodeUrlPath(remotePath);
    return url;
}

}  // namespace tarnwick
