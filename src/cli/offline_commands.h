// The commands that need no connection: sites, search and queue show. Each prints its
// result on stdout and its problems on the console; main thread only.
#pragma once

#include <string>

#include "cli_options.h"
#include "cli_settings.h"
#include "console.h"
#include "queue/queue_item.h"

namespace tarnwick::cli {

// sites: one line per site of the site file, in file order.
int ListSites(const CliContext& context);
// search [--regex] PATTERN [HOST...]: the URLs of the cached entries whose names match.
int SearchCache(const CliOptions& options, const CliContext& context, Console& console);
// queue show FILE: one line per queued item.
int ShowQueueFile(const std::string& path, Console& console);

// "name, address, port, user, login type (normal|anonymous|double), passive|active",
// TAB-separated; never the password. Control characters are shown as "?".
std::string FormatSiteLine(const SiteSetting& site);
// "host, operation, kind (file|directory|contents), server path, client path, size in bytes
// or unknown", TAB-separated. Control characters are shown as "?".
std::string FormatQueueItemLine(const std::string& host, const QueueItem& item);

}  // namespace tarnwick::cli
