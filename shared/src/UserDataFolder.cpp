#include "UserDataFolder.h"

#include <filesystem>
#include <system_error>

#include "kvplatform/base/FileCopy.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CStatics.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSubFolders[] = {CStatics::FOLDERBACKGROUNDS, CStatics::FOLDERQUOTESFILES};

}  // namespace

bool CanAddToDataFolder(const std::string& folder) {
  for (std::string_view sub : kSubFolders) {
    fs::path path = fs::path(folder) / std::string(sub);
    std::error_code error;
    if (!fs::is_directory(path, error)) path = folder;
    if (!platform::CanWriteFolder(path)) return false;
  }
  return true;
}

Result<std::string> MakeUserDataFolder(const std::string& shippedFolder) {
  const fs::path own = platform::DataHome() / "kvillo" / "data";
  for (std::string_view sub : kSubFolders) {
    const fs::path target = own / std::string(sub);
    KV_TRY(platform::EnsureDirectory(target));
    const fs::path shipped = fs::path(shippedFolder) / std::string(sub);
    std::error_code error;
    for (fs::directory_iterator entry(shipped, error), end; !error && entry != end; entry.increment(error)) {
      std::error_code kind;
      if (!entry->is_regular_file(kind)) continue;
      const fs::path link = target / entry->path().filename();
      // A name the user already has (a link of an earlier run, a file of
      // their own) stays as it is.
      if (fs::symlink_status(link, kind).type() != fs::file_type::not_found) continue;
      std::error_code made;
      fs::create_symlink(entry->path(), link, made);
      if (made) platform::LogError("cannot link " + link.string() + " to the sample " + entry->path().string() + ": " +
                                   made.message());
    }
  }
  return own.string();
}

}  // namespace kv
