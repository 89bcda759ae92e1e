// Loading the settings record from a store and saving it back.
#include "app/settings_io.h"

#include <gtest/gtest.h>

#include "app/memory_settings_store.h"
#include "listing/text_utils.h"

namespace tarnwick {
namespace {

const std::filesystem::path kHome = "/home/u/.local/share/tarnwick";
const std::filesystem::path kStart = "/home/u/work";

MemorySettingsStore Saved(const AppSettings& settings) {
    MemorySettingsStore store;
    SaveSettings(store, settings);
    return store;
}

TEST(SettingsIoTest, AnEmptyStoreGivesTheDefaults) {
    const AppSettings settings = LoadSettings(MemorySettingsStore(), kHome, kStart);
    EXPECT_TRUE(Saved(settings) == Saved(DefaultAppSettings(kHome, kStart)));
    EXPECT_EQ(settings.lastPassword, settings.anonymousPass);

    MemorySettingsStore store;
    store.SetString("AnonymousPass", "me@my.host");
    EXPECT_EQ(LoadSettings(store, kHome, kStart).lastPassword, "me@my.host");
    store.SetString("LastPassword", "");  // present: an empty password
    EXPECT_EQ(LoadSettings(store, kHome, kStart).lastPassword, "");
}

TEST(SettingsIoTest, EveryStoredValueIsLoadedAndSavedBack) {
    std::string password;
    for (int c = 1; c <= 255; ++c) password.push_back(static_cast<char>(c));
    MemorySettingsStore stored;  // every value different from its default
    int n = 1000;
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        const std::string name(descriptor.name);
        switch (descriptor.type) {
            case SettingType::kInt:
                stored.SetInt(name, -(++n));
                break;
            case SettingType::kBool:
                stored.SetInt(name, std::get<bool>(descriptor.defaultValue) ? 0 : 1);
                break;
            case SettingType::kString:
                stored.SetString(name, "changed " + name + " ;,=\"é");
                break;
            case SettingType::kEncodedString:
                stored.SetString(name, EncodePassword(password));
                break;
        }
    }
    const AppSettings settings = LoadSettings(stored, kHome, kStart);
    EXPECT_EQ(settings.lastPassword, password);
    EXPECT_TRUE(Saved(settings) == stored);
}

}  // namespace
}  // namespace tarnwick
