#include "offline_commands.h"

#include <algorithm>
#include <cstdio>

#include "queue/queue_file.h"
#include "search/offline_search.h"

namespace tarnwick::cli {

namespace {

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string LoginTypeText(int loginType) {
    switch (loginType) {
        case kLoginNormal:
            return "normal";
        case kLoginAnonymous:
            return "anonymous";
        case kLoginDouble:
            return "double";
        default:
            return std::to_string(loginType);
    }
}

std::string KindText(QueueItemKind kind) {
    switch (kind) {
        case QueueItemKind::kFile:
            return "file";
        case QueueItemKind::kDirectory:
            return "directory";
        case QueueItemKind::kDirectoryContents:
            return "contents";
    }
    return std::to_string(static_cast<int>(kind));  // a damaged file's number, as it is
}

std::string OperationText(QueueOperation operation) {
    const std::string_view text = QueueOperationText(operation);
    return text.empty() ? std::to_string(static_cast<int>(operation)) : std::string(text);
}

// The sites to search: those named, else every cached one. A named site without a cache is
// worth a word: a typing error would otherwise look like "nothing found".
std::vector<std::string> SitesToSearch(const std::vector<std::string>& named,
                                       const std::string& cacheHome, Console& console) {
    const std::vector<std::string> cached = CachedSites(cacheHome);
    if (named.empty()) return cached;
    for (const std::string& site : named) {
        if (std::ranges::find(cached, site) == cached.end()) {
            console.WriteLine("tarnwick-cli: search: nothing cached for " + Printable(site));
        }
    }
    return named;
}

}  // namespace

std::string FormatSiteLine(const SiteSetting& site) {
    return Printable(site.name) + "\t" + Printable(site.address) + "\t" +
           std::to_string(site.port) + "\t" + Printable(site.username) + "\t" +
           LoginTypeText(site.logintype) + "\t" + (site.passive != 0 ? "passive" : "active");
}

std::string FormatQueueItemLine(const std::string& host, const QueueItem& item) {
    const std::string size = item.SizeKnown() ? std::to_string(item.Size()) : "unknown";
    return Printable(host) + "\t" + OperationText(item.operation) + "\t" + KindText(item.kind) +
           "\t" + Printable(item.serverPath) + "\t" + Printable(item.clientPath) + "\t" + size;
}

int ListSites(const CliContext& context) {
    for (const SiteSetting& site : context.sites) PrintLine(FormatSiteLine(site));
    std::fflush(stdout);
    return 0;
}

int SearchCache(const CliOptions& options, const CliContext& context, Console& console) {
    OfflineSearchRequest request;
    request.cacheHome = context.settings.cacheHomeDirectory;
    request.text = options.arguments.front();
    request.useRegularExpression = options.regex;
    const std::vector<std::string> named(options.arguments.begin() + 1, options.arguments.end());
    request.sites = SitesToSearch(named, request.cacheHome, console);

    OfflineSearchCallbacks callbacks;
    callbacks.resultFound = [](const std::string& url) { PrintLine(Printable(url)); };
    const OfflineSearchResult result = RunOfflineSearch(request, callbacks);
    std::fflush(stdout);
    if (result.outcome == SearchOutcome::kPatternError) {
        // The position counts in the pattern the wildcard became.
        const std::string pattern = options.regex ? request.text : WildcardToPattern(request.text);
        console.WriteLine("tarnwick-cli: search: bad pattern '" + Printable(pattern) +
                          "': " + result.compile.message + " at position " +
                          std::to_string(result.compile.position));
        return kExitUsage;
    }
    return 0;
}

int ShowQueueFile(const std::string& path, Console& console) {
    const QueueFileContents contents = ReadQueueFile(path);
    if (!contents.opened) {
        console.WriteLine("tarnwick-cli: Can't open " + path);
        return kExitUsage;
    }
    for (const std::string& warning : contents.warnings) {
        console.WriteLine("tarnwick-cli: " + path + ": " + warning);
    }
    for (const QueueSection& section : contents.sections) {
        for (const auto& item : section.items) {
            PrintLine(FormatQueueItemLine(section.hostAddress, *item));
        }
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace tarnwick::cli
