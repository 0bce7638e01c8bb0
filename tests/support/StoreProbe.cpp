#include "StoreProbe.h"

#include <stdexcept>

#include "kvplatform/base/Paths.h"
#include "kvplatform/store/Store.h"

namespace kvtest {
namespace {

std::shared_ptr<kv::platform::Store> OpenStore() {
  auto store = kv::platform::Store::Open(kv::platform::StoreFile());
  if (!store) throw std::runtime_error(store.error().message);
  return *store;
}

}  // namespace

std::optional<std::string> StoredValue(std::string_view key, std::string_view name) {
  auto opened = OpenStore()->OpenKey(key);
  if (!opened) return std::nullopt;
  auto value = opened->QueryValue(name);
  if (!value) throw std::runtime_error(value.error().message);
  return *value;
}

std::optional<std::string> StoredSetting(std::string_view name) { return StoredValue(kSettingsKey, name); }

std::vector<std::string> StoredSettings(std::initializer_list<std::string_view> names) {
  std::vector<std::string> values;
  for (std::string_view name : names) values.push_back(StoredSetting(name).value_or("(none)"));
  return values;
}

void Store(std::string_view key, std::string_view name, std::string_view data) {
  auto created = OpenStore()->CreateKey(key);
  if (!created) throw std::runtime_error(created.error().message);
  if (auto set = created->SetValue(name, data); !set) throw std::runtime_error(set.error().message);
}

void StoreSetting(std::string_view name, std::string_view data) { Store(kSettingsKey, name, data); }

void StoreSettings(std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  for (auto [name, data] : values) Store(kSettingsKey, name, data);
}

void DeleteStoredKey(std::string_view key) {
  if (auto deleted = OpenStore()->DeleteKey(key); !deleted) throw std::runtime_error(deleted.error().message);
}

}  // namespace kvtest
