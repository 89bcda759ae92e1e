// A settings store that lives in memory only: for the command-line front end, which keeps no
// settings between runs, and for tests. Owned by its user; one thread at a time.
#pragma once

#include <map>
#include <string>
#include <variant>

#include "app/app_settings.h"

namespace tarnwick {

class MemorySettingsStore : public SettingsStore {
public:
    std::optional<int> GetInt(std::string_view name) const override;
    std::optional<std::string> GetString(std::string_view name) const override;
    void SetInt(std::string_view name, int value) override;
    void SetString(std::string_view name, std::string_view value) override;

    bool Contains(std::string_view name) const { return values_.contains(name); }
    // Same names with the same values of the same types.
    bool operator==(const MemorySettingsStore& other) const { return values_ == other.values_; }

private:
    std::map<std::string, std::variant<int, std::string>, std::less<>> values_;
};

}  // namespace tarnwick
