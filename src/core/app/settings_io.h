// Loading the settings record from a settings store and saving it back.
//
// Threads: the user-interface thread (or the command-line front end), at start-up and at
// shutdown. The caller owns the store and the record.
#pragma once

#include <filesystem>

#include "app/app_settings.h"

namespace tarnwick {

// Every value of SettingDescriptors() read from the store in table order; an absent value,
// or one of another type, keeps its default (DefaultAppSettings(programHome, startDirectory)).
// LastPassword is stored encoded and decoded here; when it is absent it equals the
// AnonymousPass just read.
AppSettings LoadSettings(const SettingsStore& store, const std::filesystem::path& programHome,
                         const std::filesystem::path& startDirectory);

// Writes every value of the record to the store: integers and flags (0 or 1) as integers,
// strings as strings, LastPassword encoded.
void SaveSettings(SettingsStore& store, const AppSettings& settings);

}  // namespace tarnwick
