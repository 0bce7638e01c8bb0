#pragma once

// Waiting for a store that another program holds locked: every operation
// (see StoreOperation) may wait a bounded time in all, in short, slightly
// random sleeps, and its failure says how long it really waited.

#include <filesystem>
#include <string>

namespace kv::platform {

// What one operation may wait in all, in milliseconds.
int StoreLockWaitMs();

// SQLite's busy handler: sleeps a little and answers 1 while the current
// operation may wait longer, else 0.
int WaitForStoreLock(void* context, int attempt);

// Sleeps a little before a whole transaction is tried again; false (without
// sleeping) when the current operation has used up its wait.
bool PauseBeforeRetry();

// "the settings store FILE is locked by another program (waited ...)".
std::string LockedMessage(const std::filesystem::path& file);

}  // namespace kv::platform
