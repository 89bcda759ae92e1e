#include "cli_settings.h"

#include <cstdlib>
#include <system_error>

namespace tarnwick::cli {

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

fs::path DefaultProgramHome() {
    if (std::string home = Environment("TARNWICK_HOME"); !home.empty()) return home;
    if (std::string data = Environment("XDG_DATA_HOME"); !data.empty()) {
        return fs::path(data) / "tarnwick";
    }
    if (std::string user = Environment("HOME"); !user.empty()) {
        return fs::path(user) / ".local" / "share" / "tarnwick";
    }
    std::error_code ignored;
    return fs::temp_directory_path(ignored) / "tarnwick";
}

}  // namespace

bool PrepareProgramHome(const CliOptions& options, fs::path& home, std::string& error) {
    if (options.home) {
        // Everything that looks for the program home in this process (and its children)
        // finds the same directory.
        ::setenv("TARNWICK_HOME", options.home->c_str(), 1);
    }
    home = DefaultProgramHome();
    std::error_code code;
    fs::create_directories(home, code);
    if (code || !fs::is_directory(home, code)) {
        error =
            "cannot create the program home " + home.string() + (code ? ": " + code.message() : "");
        return false;
    }
    return true;
}

AppSettingsSnapshot MakeSettings(const CliOptions& options, const fs::path& home) {
    std::error_code ignored;
    AppSettings settings = DefaultAppSettings(home, fs::current_path(ignored));
    settings.keepAlive = false;
    if (options.retries) {
        settings.errorRetry = *options.retries;
        settings.fileRetry = *options.retries;
    }
    if (options.retryDelay) settings.retryDelay = *options.retryDelay;
    return std::make_shared<const AppSettings>(std::move(settings));
}

}  // namespace tarnwick::cli
