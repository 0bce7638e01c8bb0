#pragma once

// What the fuzz targets share: a failed check aborts (libFuzzer keeps the input), and one private folder per target
// process under /dev/shm, made fresh on first use and removed when the process ends.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

inline void Check(bool condition) { if (!condition) std::abort(); }

inline const std::filesystem::path& FuzzFolder(std::string_view target) {
  static const std::filesystem::path folder = "/dev/shm/kvfuzz-" + std::string(target) + "-" + std::to_string(getpid());
  // Registered once `folder` is made, so the removal runs before `folder` itself is destroyed.
  [[maybe_unused]] static const bool made = [] {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return std::atexit([] { std::filesystem::remove_all(folder); }) == 0;
  }();
  return folder;
}

inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
