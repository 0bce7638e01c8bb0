#pragma once

#include <string>
#include <string_view>

#include "kvplatform/base/Result.h"
#include "kvshared/Export.h"

namespace kv {

// The system's fixed names and its access to single values of the settings
// key. A program never creates it: Statics() answers the calling thread's
// instance, made at its first use.
class KV_EXPORT CStatics {
 public:
  static constexpr std::string_view FOLDERADDINS = "Wallpaper Add-ins";
  static constexpr std::string_view FOLDERBACKGROUNDS = "Backgrounds";
  static constexpr std::string_view FOLDERQUOTESFILES = "files";
  static constexpr std::string_view SERVICENAME = "KvilloService";
  static constexpr std::string_view STATUSCODEKEY = "ServiceStatus";
  static constexpr std::string_view STATUSRUNNING = "Running";
  static constexpr std::string_view STATUSSTOPPED = "Stopped";
  static constexpr std::string_view STATUSPAUSED = "Paused";
  static constexpr std::string_view REGAUTOSTARTBOOTSWITCH = "/boot";
  static constexpr std::string_view REGAPPLICATION = "software\\Lexora";
  static constexpr std::string_view REGSECTION = "wallpaper";

  // Writes `Setting` as the value `Key` of the settings key.
  [[nodiscard]] Status SaveRegistrySetting(std::string_view AppName, std::string_view Section, std::string_view Key,
                                           std::string_view Setting);

  // The value `Key`; a missing value is stored as `Default` and answered.
  // Fails only when the store itself cannot be read (the failure has been
  // reported on stderr); callers then use `Default`.
  [[nodiscard]] Result<std::string> GetRegistrySetting(std::string_view AppName, std::string_view Section,
                                                       std::string_view Key, std::string_view Default = "");

  // The data folder, without a trailing separator.
  [[nodiscard]] Result<std::string> GetApplicationPath();

  // True when the sibling quotes application is installed.
  bool IsLexoraInstalled();
};

// The calling thread's CStatics.
KV_EXPORT CStatics& Statics();

}  // namespace kv
