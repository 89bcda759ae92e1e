// Recognising, splitting and building URLs of the form
//   scheme://[user[:password]@]host[:port][/path]
// Pure functions without state; callable from any thread.
#pragma once

#include <string>
#include <string_view>

#include "sites/site_setting.h"

namespace tarnwick {

// Service types of a URL. The values of the well-known services are those the Windows
// internet functions use, so numbers that were stored or logged keep their meaning;
// kServiceOther is ours: a well-formed URL of a scheme not listed here.
enum ServiceType : int {
    kServiceFtp = 1,
    kServiceGopher = 2,
    kServiceHttp = 3,
    kServiceUnknown = 4096,  // the text is not a URL at all
    kServiceFile = 4097,
    kServiceHttps = 4107,
    kServiceOther = 4351,
};

// The parts of a URL as ParseUrl splits them.
// The schemes "ftp", "ftpes" (the connection secured with AUTH TLS) and "ftps" (TLS from the
// first byte) are all of service type ftp; `tls` tells them apart.
struct UrlParts {
    ServiceType service = kServiceUnknown;
    std::string scheme;      // lower case, e.g. "ftp"
    std::string server;      // host name or address; an IPv6 literal without its brackets
    std::string path;        // from the "/" after the host to the end, "/" if the URL has none;
                             // "%XX" escapes decoded
    int port = 0;            // as given, else the service's default (21 ftp and ftpes, 990
                             // ftps, 80 http, 443 https, 70 gopher), else 0
    std::string user;        // empty when the URL names none; "%XX" escapes decoded
    std::string password;    // empty when the URL names none; "%XX" escapes decoded
    TlsMode tls = kTlsNone;  // kTlsExplicit for ftpes, kTlsImplicit for ftps
};

// Splits a URL. Leading and trailing white space (and a CR left over from a CR LF line) is
// ignored. The user information ends at the last "@" before the path, so a password may
// contain "@"; it may not contain "/", which must be written "%2F". The host may be an IPv6
// literal in brackets ("ftp://[::1]:2121/x"). User, password and path are "%XX"-decoded.
// Fails (false, `parts` unspecified, `error` a one-line reason) for text without
// "scheme://", an empty host (allowed only for file URLs), a malformed host, a port that is
// not a number from 1 to 65535, a "%" not followed by two hex digits, an escape that decodes
// to a control character (a CR LF would end the command it is sent in), or a "%2F" in the
// path (no remote name can hold a "/"). An empty port ("host:") means the default.
bool ParseUrl(std::string_view text, UrlParts& parts, std::string& error);
bool ParseUrl(std::string_view text, UrlParts& parts);

// True if the text parses as a URL of service type ftp.
bool IsFtpUrl(std::string_view text);

// The service type of the URL, or kServiceUnknown if the text does not parse.
ServiceType UrlServiceType(std::string_view text);

// The text from the first "/" after the "://" (index 6 past "ftp://") to the end, "%XX"
// escapes decoded (a malformed one is kept as written); "/" if there is none. A plain string
// operation for texts already known to be ftp URLs.
std::string UrlPath(std::string_view url);

// A remote path as it is written in a URL: "%", white space, controls and the characters
// that end or delimit a URL or its path ("#", "?", quotes, brackets, ...) become "%XX", so
// ParseUrl gives the path back. "/" and bytes from 0x80 (UTF-8 names) are kept.
std::string EncodeUrlPath(std::string_view path);

// "ftp://" + host + remotePath (which begins with "/") written with EncodeUrlPath. A host
// that contains ":" (an IPv6 address) is put in brackets so the URL parses back.
std::string MakeFtpUrl(std::string_view host, std::string_view remotePath);

}  // namespace tarnwick
