#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// The names, without their final extension, of the normal files in `folder`
// whose extension equals `extension` (e.g. ".bmp") in any letter case.
// Folders, special files and hidden files (names starting with ".") are
// left out; a symbolic link counts as the file it leads to. Each name is
// listed once (CAMERA.bmp and CAMERA.BMP are one name). The order is
// stable: case-insensitive by name, then byte order. A missing or
// unreadable folder gives an empty list.
std::vector<std::string> ListFileNames(const std::filesystem::path& folder, std::string_view extension);

// The same for files of any of `extensions`: a name shared by files of
// several of them (Sea.bmp, Sea.png) is listed once.
std::vector<std::string> ListFileNames(const std::filesystem::path& folder,
                                       std::span<const std::string_view> extensions);

// The file that ListFileNames lists as `name`: folder/name + extension when
// that is a normal file, else the listed file whose name is `name` followed
// by `extension` in another letter case (the first in byte order). When no
// file is listed under the name, or the name holds a "/", the result is
// folder/name + extension, so that a message names what was looked for.
std::filesystem::path ResolveListedFile(const std::filesystem::path& folder, std::string_view name,
                                        std::string_view extension);

// The same for files of any of `extensions`, tried in their order: the file
// of the first extension that has one is the result (each extension as
// above, its exact letter case first); without any, folder/name + the first
// extension.
std::filesystem::path ResolveListedFile(const std::filesystem::path& folder, std::string_view name,
                                        std::span<const std::string_view> extensions);

}  // namespace kv::platform
