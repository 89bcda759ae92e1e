// Reading and writing the site file.
#include "sites/site_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "listing/atomic_file.h"
#include "listing/line_reader.h"
#include "listing/text_utils.h"

namespace tarnwick {

namespace {

// The site file holds passwords: only its owner may read it.
constexpr mode_t kSiteFileMode = 0600;

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

bool IsSpace(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Decimal conversion as the C library's atoi does it (leading sign, digits up to the first
// other character, 0 without digits), except that an overflow saturates instead of being
// undefined.
int DecimalValue(std::string_view text) {
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
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
    return std::string(Trim(line));
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
        AppendLine(text, "passive=", std::to_string(site.passive), "\n\n");
    }
    return text;
}

// A temporary file beside `target`, created owner-only, so the new content is never readable
// by others, not even before the rename. Empty when it cannot be created.
std::string CreatePrivateTemporary(const std::string& target) {
    const std::filesystem::path targetPath(target);
    std::string name =
        (targetPath.parent_path() / ("." + targetPath.filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(name.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return {};
    ::close(fd);
    return name;
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
        return errno == ENOENT ? SiteFileResult::kMissing : SiteFileResult::kCannotRead;
    }
    std::string line;
    for (;;) {
        LineStatus status = reader.Next(line);
        if (status != LineStatus::kLine) return FromLineStatus(status);
        const std::string_view header = Trim(line);
        if (header.empty() || header.front() != '[') continue;
        std::string name = NameOfHeader(header);

        std::array<std::string, kValueCount> values;
        for (std::string& value : values) {
            status = reader.Next(line);
            // At the end of the file an incomplete block is dropped.
            if (status != LineStatus::kLine) return FromLineStatus(status);
            value = ValueOfLine(line);
        }
        sites.push_back(SiteFromValues(std::move(name), values));
    }
}

SiteFileResult SaveSiteFile(const std::string& path, const std::vector<SiteSetting>& sites) {
    // The temporary file takes the target's permission bits: tighten an older, wider file
    // first (it holds the same passwords).
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::chmod(path.c_str(), kSiteFileMode);
    }
    const std::string temporary = CreatePrivateTemporary(path);
    if (temporary.empty()) return SiteFileResult::kCannotWrite;
    if (WriteFileAtomically(path, SiteFileText(sites), temporary) != AtomicWriteResult::kWritten) {
        std::remove(temporary.c_str());  // still there if it could not be opened again
        return SiteFileResult::kCannotWrite;
    }
    // Only matters when the old file could not be tightened (another owner): the file now
    // in its place is ours.
    ::chmod(path.c_str(), kSiteFileMode);
    return SiteFileResult::kOk;
}

}  // namespace tarnwick
