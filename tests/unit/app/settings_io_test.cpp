// The settings record: its descriptors against the record's own defaults, and loading it
// from a store and saving it back.
#include "app/settings_io.h"

#include <gtest/gtest.h>

#include "app/memory_settings_store.h"
#include "listing/text_utils.h"

namespace tarnwick {
namespace {

using Value = std::variant<int, bool, std::string>;

const std::filesystem::path kHome = "/home/u/.local/share/tarnwick";
const std::filesystem::path kStart = "/home/u/work";

MemorySettingsStore Saved(const AppSettings& settings) {
    MemorySettingsStore store;
    SaveSettings(store, settings);
    return store;
}

// The descriptor's default, completed the way DefaultAppSettings completes path defaults.
Value ExpectedDefault(const SettingDescriptor& descriptor) {
    return std::visit(
        [&](auto value) -> Value {
            if constexpr (std::is_same_v<decltype(value), std::string_view>) {
                if (descriptor.base == DefaultBase::kProgramHome) return (kHome / value).string();
                if (descriptor.base == DefaultBase::kStartDirectory) return kStart.string();
                return std::string(value);
            } else {
                return value;
            }
        },
        descriptor.defaultValue);
}

TEST(AppSettingsTest, EveryDescriptorIsUniqueAndMatchesTheDefaults) {
    const AppSettings defaults = DefaultAppSettings(kHome, kStart);
    std::vector<const SettingDescriptor*> seen;
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        SCOPED_TRACE(std::string(descriptor.name));
        for (const SettingDescriptor* other : seen) {
            EXPECT_NE(other->name, descriptor.name) << "two values with one name";
            EXPECT_NE(other->field, descriptor.field) << "two values in one field";
        }
        seen.push_back(&descriptor);
        const Value value =
            std::visit([&](auto field) -> Value { return defaults.*field; }, descriptor.field);
        EXPECT_EQ(value, ExpectedDefault(descriptor));
    }
}

TEST(SettingsIoTest, AnEmptyStoreGivesTheDefaults) {
    const AppSettings settings = LoadSettings(MemorySettingsStore(), kHome, kStart);
    EXPECT_TRUE(Saved(settings) == Saved(DefaultAppSettings(kHome, kStart)));

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
