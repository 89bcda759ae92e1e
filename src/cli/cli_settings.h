// The program home and the settings of one run of tarnwick-cli. Main thread only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "cli_options.h"
#include "sites/site_setting.h"

namespace tarnwick::cli {

// The program home: --home DIR (also exported as TARNWICK_HOME for this run), else
// $TARNWICK_HOME, else $XDG_DATA_HOME/tarnwick, else ~/.local/share/tarnwick. Created when
// missing; false (with `error`) when that fails.
bool PrepareProgramHome(const CliOptions& options, std::filesystem::path& home, std::string& error);

// The settings of the graphical client (its settings store, read only: this client never
// writes them), else the defaults, with the cache inside `home` when none is stored,
// overridden for this run by the options:
// - --home: the cache is the one inside that home, whatever the stored cache home says;
// - --retries: the connection and per-file retries and the queue's cycle limit, without
//   "AlwaysRetry"; --retry-delay: the delay before a retry;
// - --overwrite: the overwrite prompt is asked (the client answers it from the option).
// KeepAlive is always off: a one-shot client must not reconnect by itself after its command.
AppSettings LoadCliSettings(const CliOptions& options, const std::filesystem::path& home);

// What every command of a run starts from.
struct CliContext {
    std::filesystem::path home;
    AppSettings settings;
    std::vector<SiteSetting> sites;  // the site file of the program home
};

// Prepares the program home, loads the settings and the site file. A site file that cannot be
// read whole adds a line to `warnings` (the sites read so far are kept). False (with `error`)
// when there is no usable program home.
bool MakeContext(const CliOptions& options, CliContext& context, std::vector<std::string>& warnings,
                 std::string& error);

}  // namespace tarnwick::cli
