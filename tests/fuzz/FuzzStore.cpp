// Store text round trip: whatever a key path, value name and text hold,
// the store gives back exactly the text, under any ASCII letter case of the
// path and the name.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "kvplatform/store/Store.h"
#include "kvplatform/base/Text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

kv::platform::Store& TheStore() {
  static std::shared_ptr<kv::platform::Store> store = [] {
    std::filesystem::path folder = "/dev/shm/kvfuzz-store-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    static const std::filesystem::path removed = folder;
    std::atexit([] { std::filesystem::remove_all(removed); });
    auto opened = kv::platform::Store::Open(folder / "registry.sqlite");
    if (!opened) std::abort();
    return *opened;
  }();
  return *store;
}

}  // namespace

// Input: key path, NUL, value name, NUL, data (the rest, NULs included).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, size_t size) {
  std::string input(reinterpret_cast<const char*>(bytes), size);
  size_t first = input.find('\0');
  std::string path = first == std::string::npos ? input : input.substr(0, first);
  std::string rest = first == std::string::npos ? std::string() : input.substr(first + 1);
  size_t second = rest.find('\0');
  std::string name = second == std::string::npos ? rest : rest.substr(0, second);
  std::string data = second == std::string::npos ? std::string() : rest.substr(second + 1);

  kv::platform::Store& store = TheStore();
  if (kv::platform::NormalizeKeyPath(path).empty()) {
    Check(!store.CreateKey(path));
    return 0;
  }
  auto key = store.CreateKey(path);
  Check(key.has_value());
  Check(key->SetValue(name, data).has_value());
  auto again = store.OpenKey(Upper(path));
  Check(again.has_value());
  auto read = again->QueryValue(Upper(name));
  Check(read.has_value() && read->has_value() && **read == data);
  auto deleted = key->DeleteValue(name);
  Check(deleted.has_value() && *deleted);
  auto gone = key->QueryValue(name);
  Check(gone.has_value() && !gone->has_value());
  // Deleting the path's first key takes its parents along, so the store
  // stays small however many inputs run.
  std::string top = kv::platform::NormalizeKeyPath(path);
  top = top.substr(0, top.find('\\'));
  Check(store.DeleteKey(Upper(top)).value_or(false));
  Check(!store.KeyExists(path).value_or(true));
  return 0;
}
