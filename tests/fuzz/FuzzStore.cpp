// Whatever a key path, value name and text hold, the store gives the text back under any letter case of path and name.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "kvplatform/base/Text.h"
#include "kvplatform/store/Store.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

kv::platform::Store& TheStore() {
  static std::shared_ptr<kv::platform::Store> store = [] {
    auto opened = kv::platform::Store::Open(FuzzFolder("store") / "registry.sqlite");
    Check(opened.has_value());
    return *opened;
  }();
  return *store;
}

}  // namespace

// Input: key path, NUL, value name, NUL, data (the rest, NULs included).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, size_t size) {
  std::string input(reinterpret_cast<const char*>(bytes), size);
  size_t first = std::min(input.find('\0'), input.size());
  std::string path = input.substr(0, first), rest = input.substr(std::min(first + 1, input.size()));
  size_t second = std::min(rest.find('\0'), rest.size());
  std::string name = rest.substr(0, second), data = rest.substr(std::min(second + 1, rest.size()));
  kv::platform::Store& store = TheStore();
  std::string top = kv::platform::NormalizeKeyPath(path);
  if (top.empty()) {
    Check(!store.CreateKey(path));
    return 0;
  }
  auto key = store.CreateKey(path);
  Check(key.has_value() && key->SetValue(name, data).has_value());
  auto again = store.OpenKey(Upper(path));
  Check(again.has_value());
  auto read = again->QueryValue(Upper(name));
  Check(read.has_value() && read->has_value() && **read == data);
  auto deleted = key->DeleteValue(name);
  Check(deleted.has_value() && *deleted);
  auto gone = key->QueryValue(name);
  Check(gone.has_value() && !gone->has_value());
  // Deleting the path's first key takes the rest along, so the store stays small.
  Check(store.DeleteKey(Upper(top.substr(0, top.find('\\')))).value_or(false));
  Check(!store.KeyExists(path).value_or(true));
  return 0;
}
