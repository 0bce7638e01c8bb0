#pragma once

// Looks at the store the way an outside program would: through its own
// connection, so a test sees exactly what reached the file.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvtest {

inline constexpr std::string_view kSettingsKey = "software\\Lexora\\wallpaper";

// The value's text in the current user's store, or nullopt when the key or
// the value is missing.
std::optional<std::string> StoredValue(std::string_view key, std::string_view name);
std::optional<std::string> StoredSetting(std::string_view name);
// Several settings at once, "(none)" for a missing one: one check for many.
std::vector<std::string> StoredSettings(std::initializer_list<std::string_view> names);

// Writes a value (creating the key) through a connection of the test's own.
void Store(std::string_view key, std::string_view name, std::string_view data);
void StoreSetting(std::string_view name, std::string_view data);
void StoreSettings(std::initializer_list<std::pair<std::string_view, std::string_view>> values);
void DeleteStoredKey(std::string_view key);

}  // namespace kvtest
