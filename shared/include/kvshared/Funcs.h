#pragma once

// The library's module routines: the settings key, single values, the
// sibling application, and the numbered name lists.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

namespace platform {
class RegistryKey;
class StoreOperation;
}

// While one is alive, every settings read and write of the thread forms one
// operation: all of them together wait at most once (the store's timeout)
// for a store that another program holds locked, and once that wait is
// used up they fail at once and the defaults stand in. A program wraps a
// whole task in one (a render, a cycle of the service).
class KV_EXPORT SettingsOperation {
 public:
  SettingsOperation();
  ~SettingsOperation();
  SettingsOperation(const SettingsOperation&) = delete;
  SettingsOperation& operator=(const SettingsOperation&) = delete;

 private:
  std::unique_ptr<platform::StoreOperation> operation_;
};

// The settings key AppName\Section, opened (or created) once per thread and
// kept open for the thread's life. A store that cannot be used fails here,
// is reported once on stderr, and is not retried by the thread, except when
// it was only locked by another program.
[[nodiscard]] KV_EXPORT Result<platform::RegistryKey*> OpenSettingsKey(std::string_view AppName,
                                                                         std::string_view Section);

// Reads the value `Key`; a missing value is stored as `Default` and answered.
// A store failure is reported on stderr and returned (nothing is stored), so
// the caller can use `Default` without ever writing it over a real value.
[[nodiscard]] KV_EXPORT Result<std::string> ReadRegistryValue(std::string_view AppName, std::string_view Section,
                                                              std::string_view Key, std::string_view Default);

// The value `Key`, or nullopt when it is missing; nothing is stored.
[[nodiscard]] KV_EXPORT Result<std::optional<std::string>> QueryRegistryValue(std::string_view AppName,
                                                                              std::string_view Section,
                                                                              std::string_view Key);

// Stores `Setting` as the value `Key`. An empty setting deletes the value
// and then stores it empty, leaving an existing, empty value.
[[nodiscard]] KV_EXPORT Status WriteRegistryValue(std::string_view AppName, std::string_view Section,
                                                  std::string_view Key, std::string_view Setting);

// Deletes the value `Key`: true when one was deleted, false when there was none.
[[nodiscard]] KV_EXPORT Result<bool> DeleteRegistryValue(std::string_view AppName, std::string_view Section,
                                                         std::string_view Key);

// True when the sibling application is installed: the key
// software\Classes\Lexora.Data exists.
KV_EXPORT bool IsLexoraInstalled();

// The data folder: the sibling's "LexoraPath" while it is installed, else the
// stored "Path" (by default the folder of this library, then stored). Fails
// when the sibling is installed but its settings cannot be read.
[[nodiscard]] KV_EXPORT Result<std::string> GetApplicationPath();

// The sibling's "LANGUAGE" in software\Lexora, or "100" when it is missing.
KV_EXPORT std::string ReadSiblingLanguage();

// The folder that holds libkvshared.so.
[[nodiscard]] KV_EXPORT Result<std::string> GetLibraryFolder();

// Reads the numbered values Stem0, Stem1, ... up to the first missing one or
// the first that holds "Not found"; that marker is left one past the end. An
// empty run stores and answers the one name `Default`. Fails when the store
// cannot be read.
[[nodiscard]] KV_EXPORT Result<std::vector<std::string>> ReadNameList(std::string_view Stem,
                                                                      std::string_view Default);

// Deletes Stem0, Stem1, ... up to the first that does not exist, then stores
// the list from Stem0 on.
[[nodiscard]] KV_EXPORT Status WriteNameList(std::string_view Stem, const std::vector<std::string>& Names);

// Makes `Target` a copy of `Source`. Fails on a source without elements
// (a list that was never loaded).
[[nodiscard]] KV_EXPORT Status CopyNameList(const std::vector<std::string>& Source, std::vector<std::string>& Target);

}  // namespace kv
