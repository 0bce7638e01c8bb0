#include "kvplatform/base/Paths.h"

#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// An XDG variable counts only when it holds an absolute path; relative
// values are invalid by the convention and ignored.
fs::path XdgOr(const char* variable, const fs::path& fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return fs::path(value);
  return fallback;
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

fs::path HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

fs::path ConfigHome() { return XdgOr("XDG_CONFIG_HOME", HomeDirectory() / ".config"); }

fs::path DataHome() { return XdgOr("XDG_DATA_HOME", HomeDirectory() / ".local" / "share"); }

fs::path CacheHome() { return XdgOr("XDG_CACHE_HOME", HomeDirectory() / ".cache"); }

fs::path StoreFile() { return ConfigHome() / "lexora" / "registry.sqlite"; }

Status EnsureDirectory(const fs::path& folder, unsigned mode) {
  std::error_code error;
  if (fs::is_directory(folder, error)) return Ok();
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    KV_TRY(EnsureDirectory(folder.parent_path(), 0755));
  }
  if (::mkdir(folder.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
    return Fail("cannot create the folder " + folder.string() + ": " + ErrnoText(errno));
  }
  if (!fs::is_directory(folder, error)) {
    return Fail("cannot create the folder " + folder.string() + ": a file of that name is in the way");
  }
  return Ok();
}

Result<fs::path> WindowsDirectory() {
  fs::path folder = DataHome() / "kvillo";
  KV_TRY(EnsureDirectory(folder, 0755));
  return folder;
}

Result<fs::path> RuntimeDirectory() {
  fs::path folder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    folder = fs::path(runtime) / "kvillo";
  } else {
    folder = "/tmp/kvillo-" + std::to_string(getuid());
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Fail("cannot create the runtime folder " + folder.string() + ": " + ErrnoText(errno));
  }
  // lstat, not stat: a symbolic link planted by someone else must not lead
  // the service's socket into a folder of theirs.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    return Fail("cannot inspect the runtime folder " + folder.string() + ": " + ErrnoText(errno));
  }
  if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
    return Fail("the runtime folder " + folder.string() + " is not a real folder; remove it and try again");
  }
  if (info.st_uid != getuid()) {
    return Fail("the runtime folder " + folder.string() + " belongs to another user; remove it or set XDG_RUNTIME_DIR");
  }
  if ((info.st_mode & 077) != 0) {
    return Fail("the runtime folder " + folder.string() +
                " can be reached by other users; run 'chmod 700' on it or remove it");
  }
  return folder;
}

Result<fs::path> ModuleFolderOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
    return Fail("cannot tell which file holds this program's code");
  }
  std::error_code error;
  fs::path file = fs::canonical(info.dli_fname, error);
  if (error) {
    // dladdr names the main program by its argv[0]; /proc knows its real path.
    return ExecutableFolder();
  }
  return file.parent_path();
}

Result<fs::path> ExecutableFolder() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return Fail("cannot find this program's own file: " + error.message());
  return self.parent_path();
}

}  // namespace kv::platform
