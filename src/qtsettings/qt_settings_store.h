// The settings store of the front ends: QSettings("Morrowlyn", "Tarnwick"), group "Settings"
// (on Windows the registry key HKCU\Software\Morrowlyn\Tarnwick\Settings, on Linux
// ~/.config/Morrowlyn/Tarnwick.conf). Integers are kept as integer values, strings (bytes,
// taken as UTF-8) as string values.
//
// Threads: the thread that created the store, which owns it (the user-interface thread).
#pragma once

#include <memory>

#include "app/app_settings.h"

class QSettings;

namespace tarnwick {

class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();
    ~QtSettingsStore() override;  // writes what is still pending
    QtSettingsStore(const QtSettingsStore&) = delete;
    QtSettingsStore& operator=(const QtSettingsStore&) = delete;

    // An absent value, or one that is not a number, gives std::nullopt. A number stored as
    // text (as it reads back from a settings file) counts as a number.
    std::optional<int> GetInt(std::string_view name) const override;
    std::optional<std::string> GetString(std::string_view name) const override;
    void SetInt(std::string_view name, int value) override;
    void SetString(std::string_view name, std::string_view value) override;

    // Writes pending changes now; false if the settings could not be written.
    bool Sync();

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace tarnwick
