#include "StoreProbe.h"

#include <stdexcept>
#include <type_traits>

#include "kvplatform/base/Paths.h"
#include "kvplatform/store/Store.h"

namespace kvtest {
namespace {

// What `result` holds; a failure ends the test with its message.
template <class T>
T Must(kv::Result<T> result) {
  if (!result) throw std::runtime_error(result.error().message);
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

std::shared_ptr<kv::platform::Store> OpenStore() { return Must(kv::platform::Store::Open(kv::platform::StoreFile())); }

}  // namespace

std::optional<std::string> StoredValue(std::string_view key, std::string_view name) {
  auto opened = OpenStore()->OpenKey(key);
  return opened ? Must(opened->QueryValue(name)) : std::nullopt;
}

std::optional<std::string> StoredSetting(std::string_view name) { return StoredValue(kSettingsKey, name); }

std::vector<std::string> StoredSettings(std::initializer_list<std::string_view> names) {
  std::vector<std::string> values;
  for (std::string_view name : names) values.push_back(StoredSetting(name).value_or("(none)"));
  return values;
}

void Store(std::string_view key, std::string_view name, std::string_view data) {
  Must(Must(OpenStore()->CreateKey(key)).SetValue(name, data));
}

void StoreSetting(std::string_view name, std::string_view data) { Store(kSettingsKey, name, data); }

void StoreSettings(std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  for (auto [name, data] : values) Store(kSettingsKey, name, data);
}

void DeleteStoredKey(std::string_view key) { (void)Must(OpenStore()->DeleteKey(key)); }

}  // namespace kvtest
