#pragma once

// A fresh, private home for one test: HOME and the XDG folders point into a new temporary folder, so the store, the
// wallpaper file, the socket and the autostart entry of the code under test all land there.

#include <filesystem>
#include <string>

namespace kvtest {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path ConfigHome() const { return root_ / "config"; }
  std::filesystem::path DataHome() const { return root_ / "data"; }
  std::filesystem::path RuntimeDir() const { return root_ / "runtime"; }
  std::filesystem::path StoreFile() const { return ConfigHome() / "lexora" / "registry.sqlite"; }
  // A data folder with empty "Backgrounds" and "files" sub-folders, made on first use.
  std::filesystem::path DataFolder() const;

 private:
  std::filesystem::path root_;
};

// Writes `bytes` to `file`, creating its folder.
void WriteFile(const std::filesystem::path& file, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& file);

// The folder that holds the built programs, the library and the sample data.
std::filesystem::path BinDir();

}  // namespace kvtest
