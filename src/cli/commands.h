// The entry of tarnwick-cli's commands: prepares the program home, the settings and the site
// list, then hands the command to the offline commands (sites, search, queue show) or to the
// CommandRunner (everything that talks to a server). Main thread only.
#pragma once

#include <string>

#include "cli_options.h"
#include "listing/listing_parser.h"

namespace tarnwick::cli {

// Runs the parsed command line; returns the exit status (0, a result code, or kExitUsage).
int RunCommand(const CliOptions& options);

// One line of `ls` (without line feed): "d" or "-", the size in bytes, "YYYY-MM-DD HH:MM" in
// local time ("-" when unknown) and the name, TAB-separated. Control characters of the name
// are shown as "?".
std::string FormatListingLine(const FileEntry& entry);

}  // namespace tarnwick::cli
