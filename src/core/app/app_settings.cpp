#include "app/app_settings.h"

namespace tarnwick {

namespace {

constexpr SettingDescriptor Int(std::string_view name, int AppSettings::*field, int value) {
    return {name, SettingType::kInt, field, value};
}

constexpr SettingDescriptor Bool(std::string_view name, bool AppSettings::*field, bool value) {
    return {name, SettingType::kBool, field, value};
}

constexpr SettingDescriptor String(std::string_view name, std::string AppSettings::*field,
                                   std::string_view value,
                                   DefaultBase base = DefaultBase::kConstant) {
    return {name, SettingType::kString, field, value, base};
}

constexpr SettingDescriptor Encoded(std::string_view name, std::string AppSettings::*field,
                                    std::string_view value) {
    return {name, SettingType::kEncodedString, field, value};
}

using S = AppSettings;

const SettingDescriptor kDescriptors[] = {
    Int("RetryDelay", &S::retryDelay, 5),
    Int("ErrorRetry", &S::errorRetry, 16),
    Bool("SaveQueue", &S::saveQueue, true),
    Int("FileRetry", &S::fileRetry, 16),
    Bool("AlwaysRetry", &S::alwaysRetry, false),
    Bool("AutoReset", &S::autoReset, false),
    Int("LastPort", &S::lastPort, 21),
    String("LastUser", &S::lastUser, "anonymous"),
    String("LastAddress", &S::lastAddress, ""),
    String("AnonymousPass", &S::anonymousPass, kDefaultAnonymousPassword),
    // Its default is the encoded AnonymousPass, so an absent value reads as AnonymousPass.
    Encoded("LastPassword", &S::lastPassword, kDefaultAnonymousPassword),
    Bool("AlwaysRefresh", &S::alwaysRefresh, false),
    Bool("EnableCache", &S::enableCache, true),
    Bool("SaveLocalDir", &S::saveLocalDir, true),
    String("DefaultLocalDirectory", &S::defaultLocalDirectory, "", DefaultBase::kStartDirectory),
    Int("DefaultOverwriteAction", &S::defaultOverwriteAction, 3),
    String("CacheHomeDirectory", &S::cacheHomeDirectory, kDefaultCacheHomeName,
           DefaultBase::kProgramHome),
    String("ViewerPath", &S::viewerPath, kDefaultViewerPath),
    Bool("KeepAlive", &S::keepAlive, true),
    Int("AntiIdleCommandInterval", &S::antiIdleCommandInterval, 30),
    Bool("AutoRefreshRemote", &S::autoRefreshRemote, true),
    Bool("AutoClosePrompt", &S::autoClosePrompt, false),
    Int("PromptSeconds", &S::promptSeconds, 10),
    Bool("DisableAllPrompt", &S::disableAllPrompt, false),
    Bool("pTransfer", &S::pTransfer, true),
    Bool("pActionFailed", &S::pActionFailed, false),
    Bool("pLogin", &S::pLogin, false),
    Bool("pOverwrite", &S::pOverwrite, true),
    Bool("pClose", &S::pClose, false),
    Bool("pDelete", &S::pDelete, true),
    Bool("pDisconnect", &S::pDisconnect, false),
    String("TextFileExtension", &S::textFileExtension, kDefaultTextFileExtension),
    Bool("CheckContent", &S::checkContent, true),
    Int("PreviewLen", &S::previewLen, 1),
    Int("WPLeft", &S::wpLeft, 0),
    Int("WPTop", &S::wpTop, 0),
    Int("WPWidth", &S::wpWidth, 0),
    Int("WPHeight", &S::wpHeight, 0),
    Bool("WPMaximized", &S::wpMaximized, false),
};

}  // namespace

std::span<const SettingDescriptor> SettingDescriptors() {
    return kDescriptors;
}

AppSettings DefaultAppSettings(const std::filesystem::path& programHome,
                               const std::filesystem::path& startDirectory) {
    AppSettings settings;
    for (const SettingDescriptor& descriptor : kDescriptors) {
        const auto* field = std::get_if<std::string AppSettings::*>(&descriptor.field);
        const auto* value = std::get_if<std::string_view>(&descriptor.defaultValue);
        if (!field || !value) continue;
        switch (descriptor.base) {
            case DefaultBase::kConstant:
                break;
            case DefaultBase::kProgramHome:
                settings.*(*field) = (programHome / *value).string();
                break;
            case DefaultBase::kStartDirectory:
                settings.*(*field) = startDirectory.string();
                break;
        }
    }
    return settings;
}

}  // namespace tarnwick
