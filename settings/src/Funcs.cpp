#include "Funcs.h"

#include "kvplatform/process/Autostart.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvshared/CStatics.h"
#include "kvshared/ServiceControl.h"

namespace kv::settings {
namespace {

// A command the entry holds as one line of at most this many bytes.
constexpr size_t kMaxCommandBytes = 254;

}  // namespace

Result<std::filesystem::path> ServiceProgram() { return kv::ServiceProgram(); }

bool IsAutoStartEnabled() {
  auto entry = platform::ReadAutostartEntry(kAutoStartName);
  if (!entry) {
    platform::LogErrorOnce(entry.error().message);
    return false;
  }
  if (!*entry) return false;
  size_t bytes = 0;
  for (const std::string& argument : **entry) bytes += argument.size() + (bytes == 0 ? 0 : 1);
  return bytes <= kMaxCommandBytes;
}

Status SetAutoStart(const bool& Enable) {
  if (Enable == IsAutoStartEnabled()) return Ok();
  if (!Enable) {
    KV_TRY(platform::DeleteAutostartEntry(kAutoStartName));
    return Ok();
  }
  // The entry starts the service where it really is: beside this program.
  // The data folder can be another one entirely (a stored Path, or the
  // quotes application's folder), and holds no program.
  KV_TRY_ASSIGN(std::filesystem::path service, ServiceProgram());
  return platform::WriteAutostartEntry(kAutoStartName, "Renews the desktop wallpaper with a quote",
                                       {service.string(), std::string(CStatics::REGAUTOSTARTBOOTSWITCH)});
}

}  // namespace kv::settings
