#include "kvshared/CStatics.h"

#include "kvshared/Funcs.h"

namespace kv {

Status CStatics::SaveRegistrySetting(std::string_view AppName, std::string_view Section, std::string_view Key,
                                     std::string_view Setting) {
  return WriteRegistryValue(AppName, Section, Key, Setting);
}

Result<std::string> CStatics::GetRegistrySetting(std::string_view AppName, std::string_view Section,
                                                 std::string_view Key, std::string_view Default) {
  return ReadRegistryValue(AppName, Section, Key, Default);
}

Result<std::string> CStatics::GetApplicationPath() { return kv::GetApplicationPath(); }

bool CStatics::IsLexoraInstalled() { return kv::IsLexoraInstalled(); }

CStatics& Statics() {
  thread_local CStatics instance;
  return instance;
}

}  // namespace kv
