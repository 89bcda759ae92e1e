// tarnwick-cli: the command-line front end over the Tarnwick engine.
#include <cstdio>
#include <span>
#include <string>

#include "cli_options.h"
#include "commands.h"

int main(int argc, char** argv) {
    using namespace tarnwick::cli;
    CliOptions options;
    std::string error;
    const auto args = std::span<char* const>(argv, static_cast<size_t>(argc)).subspan(1);
    switch (ParseCommandLine(args, options, error)) {
        case ParseOutcome::kHelp:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case ParseOutcome::kVersion:
            std::printf("tarnwick-cli %s\n", TARNWICK_VERSION);
            return 0;
        case ParseOutcome::kUsageError:
            std::fprintf(stderr, "tarnwick-cli: %s\n", error.c_str());
            return kExitUsage;
        case ParseOutcome::kRun:
            break;
    }
    return RunCommand(options);
}
