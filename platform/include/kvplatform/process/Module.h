#pragma once

// Code loaded only by the process that runs it: a module beside the
// programs, found the way the programs find their shared libraries.

#include <string>

#include "kvplatform/base/Result.h"

namespace kv::platform {

// The address of `symbol` in the module `file` (a file name, looked for
// where this program looks for its libraries), loading it on first use; a
// module or symbol that cannot be found is a failure naming it.
[[nodiscard]] Result<void*> ModuleSymbol(const std::string& file, const std::string& symbol);

}  // namespace kv::platform
