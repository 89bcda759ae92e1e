#include "app/app_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

bool TypeFitsField(const SettingDescriptor& descriptor) {
    switch (descriptor.type) {
        case SettingType::kInt:
            return std::holds_alternative<int AppSettings::*>(descriptor.field);
        case SettingType::kBool:
            return std::holds_alternative<bool AppSettings::*>(descriptor.field);
        case SettingType::kString:
        case SettingType::kEncodedString:
            return std::holds_alternative<std::string AppSettings::*>(descriptor.field);
    }
    return false;
}

// The descriptor's default, completed the way DefaultAppSettings completes path defaults.
std::variant<int, bool, std::string> ExpectedDefault(const SettingDescriptor& descriptor,
                                                     const std::filesystem::path& home,
                                                     const std::filesystem::path& start) {
    return std::visit(
        [&](auto value) -> std::variant<int, bool, std::string> {
            if constexpr (std::is_same_v<decltype(value), std::string_view>) {
                if (descriptor.base == DefaultBase::kProgramHome) return (home / value).string();
                if (descriptor.base == DefaultBase::kStartDirectory) return start.string();
                return std::string(value);
            } else {
                return value;
            }
        },
        descriptor.defaultValue);
}

std::variant<int, bool, std::string> FieldValue(const AppSettings& settings,
                                                const SettingDescriptor& descriptor) {
    return std::visit(
        [&](auto field) -> std::variant<int, bool, std::string> { return settings.*field; },
        descriptor.field);
}

TEST(AppSettingsTest, EveryDescriptorIsUniqueTypedAndMatchesTheDefaults) {
    const std::filesystem::path home = "/opt/tarnwick-home";
    const std::filesystem::path start = "/srv/start";
    const AppSettings defaults = DefaultAppSettings(home, start);
    const AppSettings plain;
    std::vector<const SettingDescriptor*> seen;
    for (const SettingDescriptor& descriptor : SettingDescriptors()) {
        SCOPED_TRACE(std::string(descriptor.name));
        for (const SettingDescriptor* other : seen) {
            EXPECT_NE(other->name, descriptor.name) << "two values with one name";
            EXPECT_NE(other->field, descriptor.field) << "two values in one field";
        }
        seen.push_back(&descriptor);
        EXPECT_TRUE(TypeFitsField(descriptor));
        EXPECT_EQ(FieldValue(defaults, descriptor), ExpectedDefault(descriptor, home, start));
        if (descriptor.base == DefaultBase::kConstant) {
            EXPECT_EQ(FieldValue(plain, descriptor), FieldValue(defaults, descriptor))
                << "a constant default must not depend on where the program runs";
        }
    }
}

TEST(AppSettingsTest, FirstStartDefaultsDependOnTheProgramHomeAndStartDirectory) {
    const AppSettings settings = DefaultAppSettings("/home/u/.local/share/tarnwick", "/home/u");
    EXPECT_EQ(settings.cacheHomeDirectory, "/home/u/.local/share/tarnwick/cache");
    EXPECT_EQ(settings.defaultLocalDirectory, "/home/u");
    EXPECT_EQ(settings.lastPassword, settings.anonymousPass);
}

}  // namespace
}  // namespace tarnwick
