#include "kvplatform/DirectoryList.h"

#include <algorithm>
#include <system_error>

#include "kvplatform/Text.h"

namespace kv::platform {
namespace fs = std::filesystem;

std::vector<std::string> ListFileNames(const fs::path& folder, std::string_view extension) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) return names;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    std::string file = it->path().filename().string();
    if (file.empty() || file[0] == '.') continue;
    std::error_code statError;
    if (!it->is_regular_file(statError)) continue;  // follows links to regular files
    if (file.size() <= extension.size() || !EndsWithIgnoreCase(file, extension)) continue;
    names.push_back(file.substr(0, file.size() - extension.size()));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}

}  // namespace kv::platform
