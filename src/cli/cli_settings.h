// The program home and the settings of one run of tarnwick-cli. Main thread only.
#pragma once

#include <filesystem>
#include <string>

#include "app/app_settings.h"
#include "cli_options.h"

namespace tarnwick::cli {

// The program home: --home DIR (also exported as TARNWICK_HOME for this run), else
// $TARNWICK_HOME, else $XDG_DATA_HOME/tarnwick, else ~/.local/share/tarnwick. Created when
// missing; false (with `error`) when that fails.
bool PrepareProgramHome(const CliOptions& options, std::filesystem::path& home, std::string& error);

// The settings defaults with the cache inside `home`, overridden by the options. KeepAlive is
// off: a one-shot client must not reconnect by itself after its command.
AppSettingsSnapshot MakeSettings(const CliOptions& options, const std::filesystem::path& home);

}  // namespace tarnwick::cli
