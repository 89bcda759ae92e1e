// Reading and writing the site file.
#include "sites/site_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>

#include "listing/atomic_file.h"
#include "listing/line_reader.h"
#include "listing/text_utils.h"

namespace tarnwick {

namespace {

// The values of a block, in the order of their lines after the header.
enum ValueIndex {
    kAddress,
    kPort,
    kUsername,
    kPassword,
    kLogintype,
    kHosttype,
    kDeflocaldir,
    kDefremotedir,
    kPassive,
    kValueCount
};

// A number as the C library's atoi reads it, except that an overflow saturates instead of
// being undefined.
int DecimalValue(std::string_view text) {
    const int64_t value = LeadingInteger(text, int64_t{INT_MAX} + 1);
    return static_cast<int>(std::clamp<int64_t>(value, INT_MIN, INT_MAX));
}

// The header without its first and last character: "[abc]" gives "abc", and a header that
// lost its "]" loses a letter instead ("[abc" gives "ab").
std::string NameOfHeader(std::string_view header) {
    if (header.size() < 2) return {};
    return std::string(header.substr(1, header.size() - 2));
}

std::string ValueOfLine(std::string_view line) {
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) line.remove_prefix(equals + 1);
    return std::string(TrimFieldSpaces(line));
}

// The TLS mode of a "tls=" line after a block (key and value trimmed, as the other values
// are); a value that names no mode reads as none. Nothing for any other line.
std::optional<int> TlsModeOfLine(std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || TrimFieldSpaces(line.substr(0, equals)) != "tls")
        return std::nullopt;
    const int mode = DecimalValue(ValueOfLine(line));
    return mode >= kTlsNone && mode <= kTlsIfAvailable ? mode : kTlsNone;
}

SiteSetting SiteFromValues(std::string name, std::array<std::string, kValueCount>& values) {
    SiteSetting site;
    site.name = std::move(name);
    site.address = std::move(values[kAddress]);
    site.port = DecimalValue(values[kPort]);
    site.username = std::move(values[kUsername]);
    site.password = DecodePassword(values[kPassword]);
    site.logintype = DecimalValue(values[kLogintype]);
    site.hosttype = DecimalValue(values[kHosttype]);
    site.deflocaldir = std::move(values[kDeflocaldir]);
    site.defremotedir = std::move(values[kDefremotedir]);
    site.passive = DecimalValue(values[kPassive]);
    return site;
}

SiteFileResult FromLineStatus(LineStatus status) {
    switch (status) {
        case LineStatus::kTooLong:
            return SiteFileResult::kLineTooLong;
        case LineStatus::kError:
            return SiteFileResult::kCannotRead;
        case LineStatus::kLine:
        case LineStatus::kEnd:
            break;
    }
    return SiteFileResult::kOk;
}

// One line of a block: `prefix`, the value without line breaks, `suffix`.
void AppendLine(std::string& out, std::string_view prefix, std::string_view value,
                std::string_view suffix = "\n") {
    out += prefix;
    for (char c : value) {
        if (c != '\r' && c != '\n') out += c;
    }
    out += suffix;
}

std::string SiteFileText(const std::vector<SiteSetting>& sites) {
    std::string text;
    for (const SiteSetting& site : sites) {
        AppendLine(text, "[", site.name, "]\n");
        AppendLine(text, "address=", site.address);
        AppendLine(text, "port=", std::to_string(site.port));
        AppendLine(text, "username=", site.username);
        AppendLine(text, "password=", EncodePassword(site.password));
        AppendLine(text, "logintype=", std::to_string(site.logintype));
        AppendLine(text, "hosttype=", std::to_string(site.hosttype));
        AppendLine(text, "deflocaldir=", site.deflocaldir);
        AppendLine(text, "defremotedir=", site.defremotedir);
        AppendLine(text, "passive=", std::to_string(site.passive));
        AppendLine(text, "tls=", std::to_string(site.tls), "\n\n");
    }
    return text;
}

}  // namespace

SiteSetting NewSiteSetting(std::string_view anonymousPass) {
    SiteSetting site;
    site.password = std::string(anonymousPass);
    return site;
}

SiteFileResult LoadSiteFile(const std::string& path, std::vector<SiteSetting>& sites) {
    LineReader reader(path);
    if (!reader.IsOpen()) {
        return reader.OpenError() == ENOENT ? SiteFileResult::kMissing
                                            : SiteFileResult::kCannotRead;
    }
    std::string_view line;
    bool haveLine = false;  // `line` was read after a block and is not yet looked at
    for (;;) {
        if (!haveLine) {
            const LineStatus status = reader.Next(line);
            if (status != LineStatus::kLine) return FromLineStatus(status);
        }
        haveLine = false;
        const std::string_view header = TrimFieldSpaces(line);
        if (header.empty() || header.front() != '[') continue;
        std::string name = NameOfHeader(header);

        std::array<std::string, kValueCount> values;
        for (std::string& value : values) {
            const LineStatus status = reader.Next(line);
            // At the end of the file an incomplete block is dropped.
            if (status != LineStatus::kLine) return FromLineStatus(status);
            value = ValueOfLine(line);
        }
        sites.push_back(SiteFromValues(std::move(name), values));
        // An optional "tls=" line follows; a file written without it has none.
        const LineStatus status = reader.Next(line);
        if (status != LineStatus::kLine) return FromLineStatus(status);
        if (const std::optional<int> mode = TlsModeOfLine(line)) {
            sites.back().tls = *mode;
        } else {
            haveLine = true;  // may begin the next block
        }
    }
}

SiteFileResult SaveSiteFile(const std::string& path, const std::vector<SiteSetting>& sites) {
    // The file holds passwords: the new one is never readable by others, not even before
    // the rename; an older file, written without care, is tightened even if saving fails.
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::chmod(path.c_str(), 0600);
    return WriteFileAtomically(path, SiteFileText(sites), {.ownerOnly = true}) ==
                   AtomicWriteResult::kWritten
               ? SiteFileResult::kOk
               : SiteFileResult::kCannotWrite;
}

}  // namespace tarnwick
