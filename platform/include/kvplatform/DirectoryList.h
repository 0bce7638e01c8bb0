#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// The names, without their final extension, of the normal files in `folder`
// whose extension equals `extension` (e.g. ".bmp") in any letter case.
// Folders and hidden files (names starting with ".") are left out. The order
// is stable: case-insensitive by name, then byte order. A missing or
// unreadable folder gives an empty list.
std::vector<std::string> ListFileNames(const std::filesystem::path& folder, std::string_view extension);

}  // namespace kv::platform
