#include "cli_settings.h"

#include <cstdlib>
#include <system_error>

#include "app/settings_io.h"
#include "sites/site_file.h"
#ifdef TARNWICK_HAVE_QTSETTINGS
#include "qtsettings/qt_settings_store.h"
#endif

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

AppSettings LoadCliSettings(const CliOptions& options, const fs::path& home) {
    std::error_code ignored;
    const fs::path startDirectory = fs::current_path(ignored);
#ifdef TARNWICK_HAVE_QTSETTINGS
    const QtSettingsStore store;
    AppSettings settings = LoadSettings(store, home, startDirectory);
#else
    AppSettings settings = DefaultAppSettings(home, startDirectory);
#endif
    settings.keepAlive = false;
    if (options.home) {
        settings.cacheHomeDirectory = DefaultAppSettings(home, startDirectory).cacheHomeDirectory;
    }
    if (options.retries) {
        settings.errorRetry = *options.retries;
        settings.fileRetry = *options.retries;
        settings.alwaysRetry = false;
    }
    if (options.retryDelay) settings.retryDelay = *options.retryDelay;
    if (options.overwrite) settings.pOverwrite = true;
    return settings;
}

bool MakeContext(const CliOptions& options, CliContext& context, std::vector<std::string>& warnings,
                 std::string& error) {
    if (!PrepareProgramHome(options, context.home, error)) return false;
    context.settings = LoadCliSettings(options, context.home);
    const fs::path siteFile = context.home / kSiteFileName;
    switch (LoadSiteFile(siteFile.string(), context.sites)) {
        case SiteFileResult::kCannotRead:
            warnings.push_back("cannot read " + siteFile.string());
            break;
        case SiteFileResult::kLineTooLong:
            warnings.push_back(siteFile.string() + ": a line is too long; later sites left out");
            break;
        default:
            break;
    }
    return true;
}

}  // namespace tarnwick::cli
