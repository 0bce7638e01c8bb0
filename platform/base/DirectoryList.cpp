#include "kvplatform/base/DirectoryList.h"

#include <algorithm>
#include <system_error>

#include "kvplatform/base/Text.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// The one rule of what a file list holds, shared by the listing and the
// resolver so that every listed name is found again.
bool IsListed(const fs::directory_entry& entry, std::string_view extension) {
  std::string file = entry.path().filename().string();
  if (file.empty() || file[0] == '.') return false;
  if (file.size() <= extension.size() || !EndsWithIgnoreCase(file, extension)) return false;
  std::error_code error;
  return entry.is_regular_file(error);  // follows links to regular files
}

// Calls onListed(file name) for every listed file of `folder`.
template <class OnListed>
void ForEachListed(const fs::path& folder, std::string_view extension, OnListed onListed) {
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) return;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    if (IsListed(*it, extension)) onListed(it->path().filename().string());
  }
}

}  // namespace

std::vector<std::string> ListFileNames(const fs::path& folder, std::span<const std::string_view> extensions) {
  std::vector<std::string> names;
  for (std::string_view extension : extensions) {
    ForEachListed(folder, extension,
                  [&](const std::string& file) { names.push_back(file.substr(0, file.size() - extension.size())); });
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
    return la != lb ? la < lb : a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::vector<std::string> ListFileNames(const fs::path& folder, std::string_view extension) {
  return ListFileNames(folder, std::span<const std::string_view>(&extension, 1));
}

fs::path ResolveListedFile(const fs::path& folder, std::string_view name, std::span<const std::string_view> extensions) {
  if (extensions.empty()) return folder / std::string(name);
  fs::path first = folder / (std::string(name) + std::string(extensions.front()));
  if (name.find('/') != std::string_view::npos) return first;
  for (std::string_view extension : extensions) {
    std::string exact = std::string(name) + std::string(extension);
    fs::path path = folder / exact;
    std::error_code error;
    if (IsListed(fs::directory_entry(path, error), extension)) return path;
    std::string found;
    ForEachListed(folder, extension, [&](const std::string& file) {
      if (file.size() == exact.size() && file.starts_with(name) && (found.empty() || file < found)) found = file;
    });
    if (!found.empty()) return folder / found;
  }
  return first;
}

fs::path ResolveListedFile(const fs::path& folder, std::string_view name, std::string_view extension) {
  return ResolveListedFile(folder, name, std::span<const std::string_view>(&extension, 1));
}

}  // namespace kv::platform
