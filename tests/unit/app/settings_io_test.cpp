// Loading the settings record from a store and saving it back.
#include "app/settings_io.h"

#include <gtest/gtest.h>

#include "app/memory_settings_store.h"
#include "listing/text_utils.h"

namespace tarnwick {
namespace {

const std::filesystem::path kHome = "/home/u/.local/share/tarnwick";
const std::filesystem::path kStart = "/home/u/work";

std::variant<int, bool, std::string> FieldValue(const AppSettings& settings,
                                                const SettingDescriptor& descriptor) {
    return std::visit(
        [&](auto field) -> std::variant<int, bool, std::string> { return settings.*field; },
        descriptor.field);
}

// Every field compared, named in the failure.
void ExpectSameSettings(const AppSettings& actual, const AppSettings& expected) {
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        EXPECT_EQ(FieldValue(actual, descriptor), FieldValue(expected, descriptor))
            << descriptor.name;
    }
}

// A record in which every value differs from its default.
AppSettings EveryValueChanged() {
    AppSettings settings = DefaultAppSettings(kHome, kStart);
    int n = 100;
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        ++n;
        std::visit(
            [&](auto field) {
                using Value = std::remove_reference_t<decltype(settings.*field)>;
                if constexpr (std::is_same_v<Value, int>) {
                    settings.*field = -n;
                } else if constexpr (std::is_same_v<Value, bool>) {
                    settings.*field = !(settings.*field);
                } else {
                    settings.*field = "changed " + std::string(descriptor.name) + " ;,=\"é";
                }
            },
            descriptor.field);
    }
    return settings;
}

TEST(SettingsIoTest, AnEmptyStoreGivesTheDefaults) {
    const MemorySettingsStore empty;
    const AppSettings settings = LoadSettings(empty, kHome, kStart);
    ExpectSameSettings(settings, DefaultAppSettings(kHome, kStart));
    EXPECT_EQ(settings.lastPassword, settings.anonymousPass);
}

TEST(SettingsIoTest, AnAbsentLastPasswordIsTheStoredAnonymousPassword) {
    MemorySettingsStore store;
    store.SetString("AnonymousPass", "me@my.host");
    EXPECT_EQ(LoadSettings(store, kHome, kStart).lastPassword, "me@my.host");

    store.SetString("LastPassword", "");  // present but empty: an empty password
    EXPECT_EQ(LoadSettings(store, kHome, kStart).lastPassword, "");
}

TEST(SettingsIoTest, SaveThenLoadKeepsEveryValue) {
    AppSettings settings = EveryValueChanged();
    for (int c = 1; c <= 255; ++c) settings.lastPassword.push_back(static_cast<char>(c));
    MemorySettingsStore store;
    SaveSettings(store, settings);

    EXPECT_EQ(store.GetString("LastPassword"), EncodePassword(settings.lastPassword));
    EXPECT_EQ(store.GetInt("WPMaximized"), 1);  // flags are integers, 0 or 1
    ExpectSameSettings(LoadSettings(store, "/elsewhere", "/"), settings);
}

}  // namespace
}  // namespace tarnwick
