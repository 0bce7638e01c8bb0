#pragma once

// Where this user's files live. All paths follow the XDG base-directory
// convention, so pointing HOME and the XDG_* variables at fresh folders
// isolates a program (and a test) completely.

#include <filesystem>
#include <string>

#include "kvplatform/base/Result.h"

namespace kv::platform {

// The user's home folder: $HOME, else the password database.
std::filesystem::path HomeDirectory();

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();

// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path DataHome();

// $XDG_CACHE_HOME, else ~/.cache.
std::filesystem::path CacheHome();

// The per-user settings store: <config>/lexora/registry.sqlite.
std::filesystem::path StoreFile();

// The folder that receives the wallpaper file: <data>/kvillo, created when missing.
[[nodiscard]] Result<std::filesystem::path> WindowsDirectory();

// The folder for the service's socket and lock: $XDG_RUNTIME_DIR/kvillo,
// else /tmp/kvillo-<uid>. Created with mode 0700; refused when it is a
// symbolic link, not owned by this user, or reachable by other users.
[[nodiscard]] Result<std::filesystem::path> RuntimeDirectory();

// The folder holding the shared object or executable that contains `address`.
[[nodiscard]] Result<std::filesystem::path> ModuleFolderOf(const void* address);

// The folder of the running program's executable.
[[nodiscard]] Result<std::filesystem::path> ExecutableFolder();

// Creates `folder` and its parents; new folders get `mode`.
[[nodiscard]] Status EnsureDirectory(const std::filesystem::path& folder, unsigned mode = 0755);

}  // namespace kv::platform
