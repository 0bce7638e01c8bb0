#pragma once

// A data folder of the user's own, for an install whose folder the user
// cannot write (a system-wide install under /usr).

#include <string>

#include "kvplatform/base/Result.h"

namespace kv {

// True when the user can add files to the data folder `folder`: to its
// "Backgrounds" and "files", or to the folder itself where they are missing.
bool CanAddToDataFolder(const std::string& folder);

// Makes <data home>/kvillo/data with the sub-folders of `shippedFolder` and
// in them links to its pictures and quotes files, so the samples stay in
// use while the user adds and removes files. Files already there (an
// earlier run, the user's own) are kept. Answers the folder.
[[nodiscard]] Result<std::string> MakeUserDataFolder(const std::string& shippedFolder);

}  // namespace kv
