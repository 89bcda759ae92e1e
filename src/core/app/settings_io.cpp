// Loading and saving the settings record.
#include "app/settings_io.h"

#include <string>

#include "listing/text_utils.h"

namespace tarnwick {

namespace {

constexpr std::string_view kLastPasswordName = "LastPassword";

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

void LoadValue(const SettingsStore& store, const SettingDescriptor& descriptor,
               AppSettings& settings) {
    std::visit(Overloaded{
                   [&](int AppSettings::*field) {
                       if (auto value = store.GetInt(descriptor.name)) settings.*field = *value;
                   },
                   [&](bool AppSettings::*field) {
                       if (auto value = store.GetInt(descriptor.name)) {
                           settings.*field = *value != 0;
                       }
                   },
                   [&](std::string AppSettings::*field) {
                       auto value = store.GetString(descriptor.name);
                       if (!value) return;
                       settings.*field = descriptor.type == SettingType::kEncodedString
                                             ? DecodePassword(*value)
                                             : std::move(*value);
                   },
               },
               descriptor.field);
}

void SaveValue(SettingsStore& store, const SettingDescriptor& descriptor,
               const AppSettings& settings) {
    std::visit(Overloaded{
                   [&](int AppSettings::*field) { store.SetInt(descriptor.name, settings.*field); },
                   [&](bool AppSettings::*field) {
                       store.SetInt(descriptor.name, settings.*field ? 1 : 0);
                   },
                   [&](std::string AppSettings::*field) {
                       store.SetString(descriptor.name,
                                       descriptor.type == SettingType::kEncodedString
                                           ? EncodePassword(settings.*field)
                                           : settings.*field);
                   },
               },
               descriptor.field);
}

}  // namespace

AppSettings LoadSettings(const SettingsStore& store, const std::filesystem::path& programHome,
                         const std::filesystem::path& startDirectory) {
    AppSettings settings = DefaultAppSettings(programHome, startDirectory);
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        LoadValue(store, descriptor, settings);
    }
    // The last password's default is the encoded AnonymousPass: the one just read, which
    // need not be the built-in placeholder.
    if (!store.GetString(kLastPasswordName)) settings.lastPassword = settings.anonymousPass;
    return settings;
}

void SaveSettings(SettingsStore& store, const AppSettings& settings) {
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        SaveValue(store, descriptor, settings);
    }
}

}  // namespace tarnwick
