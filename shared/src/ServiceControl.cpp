#include "kvshared/ServiceControl.h"

#include "kvplatform/base/Paths.h"
#include "kvplatform/process/Process.h"
#include "kvplatform/process/ServiceWindow.h"
#include "kvshared/CStatics.h"

namespace kv {

ServicePresence ProbeService() {
  switch (platform::ProbeServiceWindow(platform::kServiceWindowClass, CStatics::SERVICENAME)) {
    case platform::ServiceWindowState::Present: return ServicePresence::Present;
    case platform::ServiceWindowState::NotResponding: return ServicePresence::NotResponding;
    case platform::ServiceWindowState::Absent: break;
  }
  return ServicePresence::Absent;
}

Result<std::filesystem::path> ServiceProgram() {
  KV_TRY_ASSIGN(std::filesystem::path folder, platform::ExecutableFolder());
  return folder / "Kvillo";
}

Status StartService() {
  KV_TRY_ASSIGN(std::filesystem::path program, ServiceProgram());
  KV_TRY(platform::StartDetached(program, {}));
  return Ok();
}

Status CloseService(std::chrono::milliseconds timeout) {
  return platform::CloseServiceWindow(platform::kServiceWindowClass, CStatics::SERVICENAME, timeout);
}

Status SaveServiceStatus(std::string_view status) {
  return Statics().SaveRegistrySetting(CStatics::REGAPPLICATION, CStatics::REGSECTION, CStatics::STATUSCODEKEY, status);
}

Result<std::string> AskService(std::string_view request, std::chrono::milliseconds timeout) {
  return platform::SendServiceRequest(platform::kServiceWindowClass, CStatics::SERVICENAME, request, timeout);
}

}  // namespace kv
