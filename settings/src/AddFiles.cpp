#include "AddFiles.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "kvplatform/base/FileCopy.h"
#include "kvplatform/base/Paths.h"

namespace kv::settings {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return text;
}

// The extension of `file` as listed in `extensions`, or "" when it has none of them.
std::string ListedExtension(const fs::path& file, std::span<const std::string_view> extensions) {
  std::string extension = Lower(file.extension().string());
  for (std::string_view known : extensions) {
    if (extension == known) return extension;
  }
  return {};
}

// The bases (lower case) of the folder's files that the catalog lists.
std::set<std::string> TakenNames(const fs::path& folder, std::span<const std::string_view> extensions) {
  std::set<std::string> taken;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    const fs::path& name = entry->path().filename();
    if (!ListedExtension(name, extensions).empty()) taken.insert(Lower(name.stem().string()));
  }
  return taken;
}

}  // namespace

AddedFiles AddFilesToFolder(const std::vector<fs::path>& files, const fs::path& folder,
                            std::span<const std::string_view> extensions, std::int64_t maxBytes) {
  AddedFiles added;
  if (auto made = platform::EnsureDirectory(folder); !made) {
    added.Problems.push_back("cannot make the folder " + folder.string() + ": " + made.error().message);
    return added;
  }
  for (const fs::path& file : files) {
    std::string extension = ListedExtension(file, extensions);
    if (extension.empty()) {
      std::string known;
      for (std::string_view name : extensions) known += (known.empty() ? "" : ", ") + std::string(name);
      added.Problems.push_back(file.string() + " is not one of the files offered here (" + known + ")");
      continue;
    }
    const std::string base = file.stem().string();
    // Names are tried until one is free; a name taken by another program
    // between the look and the copy is simply skipped.
    std::set<std::string> taken = TakenNames(folder, extensions);
    for (int number = 1;; ++number) {
      std::string name = number == 1 ? base : base + " (" + std::to_string(number) + ")";
      if (taken.contains(Lower(name))) continue;
      auto copied = platform::CopyFileNoReplace(file, folder / (name + extension), maxBytes);
      if (!copied) {
        added.Problems.push_back("cannot add " + file.string() + ": " + copied.error().message);
        break;
      }
      if (*copied) {
        added.Names.push_back(name);
        break;
      }
      taken.insert(Lower(name));
    }
  }
  return added;
}

}  // namespace kv::settings
