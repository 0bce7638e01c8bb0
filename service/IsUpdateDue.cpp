#include "IsUpdateDue.h"

#include "kvplatform/base/Log.h"
#include "kvshared/CStatics.h"
#include "kvshared/Funcs.h"

namespace kv::service {

bool IsUpdateDue(const std::int32_t& days, const std::function<platform::LocalDateTime()>& now) {
  SettingsOperation operation;  // reading and renewing the date wait once in all
  platform::LocalDateTime current = now();
  std::string currentText = platform::FormatIso(current);
  auto stored = Statics().GetRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, "UpdateDate", currentText);
  // A store that cannot be read gives no date to wait for, so the update
  // goes ahead; so does a text that is not a date, which is then replaced.
  if (stored) {
    if (auto next = platform::ParseIso(*stored); next && platform::MinutesBetween(current, *next) > 0) return false;
  }
  std::string following = platform::FormatIso(platform::AddDays(current, days));
  if (auto written = Statics().SaveRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, "UpdateDate", following);
      !written) {
    platform::LogError("cannot store the next update date: " + written.error().message);
  }
  return true;
}

}  // namespace kv::service
