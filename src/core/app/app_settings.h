// The process-wide settings record: every persisted setting with its default, the table that
// names each one as the settings store knows it, and the store interface itself.
//
// Ownership and threads: the user-interface thread owns the one live AppSettings, loads it
// at start-up and changes it only through user actions (options sheet, quick connect bar,
// "Always Online"). Sessions never read that live record: each takes an AppSettingsSnapshot,
// an immutable copy published by the user-interface thread after every change, so worker
// threads read settings without locks and without races. Everything declared here is plain
// data or reentrant and may be used from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tarnwick {

// Password sent for anonymous logins when the user set none: an e-mail-style placeholder.
inline constexpr std::string_view kDefaultAnonymousPassword = "tarnwick@example.com";

// Program that opens a viewed file. The Windows build keeps notepad; elsewhere the desktop's
// opener decides by file type.
#ifdef _WIN32
inline constexpr std::string_view kDefaultViewerPath = "notepad.exe";
#else
inline constexpr std::string_view kDefaultViewerPath = "xdg-open";
#endif

// Extensions (without dot, ";"-separated) sent as ASCII in the automatic transfer type.
inline constexpr std::string_view kDefaultTextFileExtension =
    "txt;ini;htm;html;shtml;dhtml;asp;css;mak;php;pl;bat;xml;c;cpp;h;rc;java;asm;rtf";

// The cache home's default, relative to the program home.
inline constexpr std::string_view kDefaultCacheHomeName = "cache";

// One field per persisted value, named after it (lower camel case) and initialised to its
// default. The two defaults that depend on where the program runs (cacheHomeDirectory,
// defaultLocalDirectory) are empty here; DefaultAppSettings() fills them in.
struct AppSettings {
    // Retries and the queue ("Transfer" page).
    int retryDelay = 5;     // seconds to wait before any retry
    int errorRetry = 16;    // connection retries after the first attempt; the queue's cycle limit
    bool saveQueue = true;  // save every queue to "autosave.que" on exit
    int fileRetry = 16;     // retries of one file operation after its first attempt
    bool alwaysRetry = false;  // connection retries and queue cycles without limit
    bool autoReset = false;    // reset stopped queue items automatically

    // The quick connect bar's last entries.
    int lastPort = 21;
    std::string lastUser = "anonymous";
    std::string lastAddress;
    std::string anonymousPass{kDefaultAnonymousPassword};
    // Plain text in memory; the store keeps it encoded. Absent, it equals anonymousPass.
    std::string lastPassword{kDefaultAnonymousPassword};

    // Listings, cache and local directories ("General" page, "Always Online").
    bool alwaysRefresh = false;  // "Always Online": never load a listing from the cache
    bool enableCache = true;
    bool saveLocalDir = true;
    std::string defaultLocalDirectory;  // default: the process's directory at start-up
    int defaultOverwriteAction = 3;     // 0 skip, 1 resume, 2 overwrite, 3 auto
    std::string cacheHomeDirectory;     // default: the program home followed by "cache"
    std::string viewerPath{kDefaultViewerPath};
    bool keepAlive = true;             // reconnect when a connection ends; send anti-idle commands
    int antiIdleCommandInterval = 30;  // idle seconds before an anti-idle command
    bool autoRefreshRemote = true;     // kept and written back; nothing depends on it

    // Prompts ("Overwrite" and "Prompt" pages).
    bool autoClosePrompt = false;   // dismiss the overwrite prompt by itself
    int promptSeconds = 10;         // ... after this many seconds
    bool disableAllPrompt = false;  // kept and written back; nothing depends on it
    bool pTransfer = true;
    bool pActionFailed = false;
    bool pLogin = false;
    bool pOverwrite = true;
    bool pClose = false;
    bool pDelete = true;
    bool pDisconnect = false;

    // Transfer type ("File Type" page).
    std::string textFileExtension{kDefaultTextFileExtension};
    bool checkContent = true;  // edited and stored; no transfer decision reads it
    int previewLen = 1;        // KB; edited and stored; no transfer decision reads it

    // Main window placement (normal rectangle); used only when width and height are non-zero.
    int wpLeft = 0;
    int wpTop = 0;
    int wpWidth = 0;
    int wpHeight = 0;
    bool wpMaximized = false;
};

// What sessions hold: an immutable copy of the settings (see the header comment).
using AppSettingsSnapshot = std::shared_ptr<const AppSettings>;

// How a value is kept in the store: integers and flags as integers (flags 0 or 1), strings
// as strings, and an encoded string through the site file's password encoding.
enum class SettingType { kInt, kBool, kString, kEncodedString };

// Where a string default comes from.
enum class DefaultBase {
    kConstant,        // defaultValue as it is
    kProgramHome,     // defaultValue is a name inside the program home
    kStartDirectory,  // the process's current directory at start-up (defaultValue unused)
};

// One persisted value: its name in the store, its type, its field and its default.
struct SettingDescriptor {
    std::string_view name;
    SettingType type;
    std::variant<int AppSettings::*, bool AppSettings::*, std::string AppSettings::*> field;
    std::variant<int, bool, std::string_view> defaultValue;
    DefaultBase base = DefaultBase::kConstant;
};

// Every persisted value, in the order they are read at start-up. Loading and saving are a
// loop over this table.
std::span<const SettingDescriptor> SettingDescriptors();

// The settings to use when the store holds nothing: the struct's defaults with the cache home
// inside `programHome` and the default local directory set to `startDirectory`.
AppSettings DefaultAppSettings(const std::filesystem::path& programHome,
                               const std::filesystem::path& startDirectory);

// Where the settings persist (the GUI: QSettings("Morrowlyn", "Tarnwick"), group "Settings").
// Values are addressed by their descriptor names. Used by the user-interface thread only, at
// start-up and at shutdown; implementations report no errors through exceptions.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // std::nullopt when the value is absent or not of the asked type: the caller then keeps
    // the default.
    virtual std::optional<int> GetInt(std::string_view name) const = 0;
    virtual std::optional<std::string> GetString(std::string_view name) const = 0;

    virtual void SetInt(std::string_view name, int value) = 0;
    virtual void SetString(std::string_view name, std::string_view value) = 0;
};

}  // namespace tarnwick
