#include "TempHome.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kvtest {
namespace fs = std::filesystem;

TempHome::TempHome() {
  std::string pattern = (fs::temp_directory_path() / "kvtest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  for (const fs::path& folder : {ConfigHome(), DataHome(), RuntimeDir()}) fs::create_directories(folder);
  fs::permissions(RuntimeDir(), fs::perms::owner_all, fs::perm_options::replace);
  for (const auto& [name, folder] : std::initializer_list<std::pair<const char*, fs::path>>{
           {"HOME", root_}, {"XDG_CONFIG_HOME", ConfigHome()}, {"XDG_DATA_HOME", DataHome()},
           {"XDG_RUNTIME_DIR", RuntimeDir()}, {"XDG_CACHE_HOME", root_ / "cache"}}) setenv(name, folder.c_str(), 1);
  unsetenv("XDG_CURRENT_DESKTOP");
}

TempHome::~TempHome() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

fs::path TempHome::DataFolder() const {
  fs::path folder = root_ / "datafolder";
  for (const char* sub : {"Backgrounds", "files"}) fs::create_directories(folder / sub);
  return folder;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

fs::path BinDir() { return KV_TEST_BIN_DIR; }

}  // namespace kvtest
