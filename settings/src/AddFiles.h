#pragma once

// Copying files the user chose into a sub-folder of the data folder, under
// names the catalog lists them by.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::settings {

struct AddedFiles {
  std::vector<std::string> Names;     // the new names, without extension, in the order chosen
  std::vector<std::string> Problems;  // one message per file that was not added
};

// Copies every file of `files` into `folder` (created when missing). A file
// whose extension (in any letter case) is not one of `extensions` is not
// copied. A name whose base is taken in the folder by a file of any of the
// extensions (letter case ignored, as the catalog lists both under one
// name) gets " (2)", " (3)", ... before its extension. Each copy is whole
// or absent; no file of the folder is ever replaced.
AddedFiles AddFilesToFolder(const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder,
                            std::span<const std::string_view> extensions, std::int64_t maxBytes);

}  // namespace kv::settings
