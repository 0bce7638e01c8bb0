// Whatever bytes lie at the store's path and in a log beside it, opening never crashes or hangs, and a refused file is
// left exactly as it was, with its log if that holds anything; a file that opens is used as the programs use it.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "kvplatform/store/Store.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Input: a flags byte, the store file's length (2 bytes, little-endian), the file, then the log when flag bit 0 is set.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, size_t size) {
  if (size < 3) return 0;
  std::string rest(reinterpret_cast<const char*>(bytes) + 3, size - 3);
  bool withLog = (bytes[0] & 1) != 0;
  size_t length = bytes[1] | static_cast<size_t>(bytes[2]) << 8;
  std::string main = withLog ? rest.substr(0, std::min(length, rest.size())) : rest;
  std::string log = withLog ? rest.substr(main.size()) : std::string();
  fs::path file = FuzzFolder("store-file") / "registry.sqlite", logFile = file.string() + "-wal";
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file.string() + suffix);
  WriteBytes(file, main);
  if (withLog) WriteBytes(logFile, log);
  auto store = kv::platform::Store::Open(file);
  if (!store) {
    // An empty log holds nothing: SQLite may remove it, or leave one it made.
    Check(Read(file) == main);
    auto logNow = Read(logFile);
    Check(log.empty() ? !logNow || logNow->empty() : logNow == log);
    return 0;
  }
  if (auto key = (*store)->CreateKey("software\\Lexora\\wallpaper")) {
    (void)key->QueryValue("FontSize");
    (void)key->SetValue("FontSize", "40");
    (void)key->ListValues();
    (void)key->ListSubkeys();
  }
  (void)(*store)->DeleteKey("software\\Lexora");
  return 0;
}
