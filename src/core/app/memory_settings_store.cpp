// The in-memory settings store.
#include "app/memory_settings_store.h"

namespace tarnwick {

std::optional<int> MemorySettingsStore::GetInt(std::string_view name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    const int* value = std::get_if<int>(&found->second);
    return value ? std::optional<int>(*value) : std::nullopt;
}

std::optional<std::string> MemorySettingsStore::GetString(std::string_view name) const {
    const auto found = values_.find(name);
    if (found == values_.end()) return std::nullopt;
    const std::string* value = std::get_if<std::string>(&found->second);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

void MemorySettingsStore::SetInt(std::string_view name, int value) {
    values_.insert_or_assign(std::string(name), value);
}

void MemorySettingsStore::SetString(std::string_view name, std::string_view value) {
    values_.insert_or_assign(std::string(name), std::string(value));
}

}  // namespace tarnwick
