#pragma once

// Copying a user's file into a folder of the system, whole or not at all,
// and asking whether this user may write a folder.

#include <cstdint>
#include <filesystem>

#include "kvplatform/base/Result.h"

namespace kv::platform {

// Copies the plain file `source` (a symbolic link is followed) to `target`.
// The copy is written under a temporary name in the target's folder and
// only then given its name, so no reader ever sees a partial file and a
// failure leaves nothing behind. An existing `target` is never replaced:
// the answer is then false and nothing was written. Fails, naming the
// file, for a missing source, one that is no plain file (a folder, FIFO or
// device) or is larger than `maxBytes`, and for any read or write error.
[[nodiscard]] Result<bool> CopyFileNoReplace(const std::filesystem::path& source, const std::filesystem::path& target,
                                             std::int64_t maxBytes);

// True when this user may create and delete files in `folder` (by the
// permissions of the user, not of root's exemption alone: a read-only file
// system counts as not writable).
bool CanWriteFolder(const std::filesystem::path& folder);

}  // namespace kv::platform
