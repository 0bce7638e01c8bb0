#include "kvplatform/process/Module.h"

#include <dlfcn.h>

namespace kv::platform {

Result<void*> ModuleSymbol(const std::string& file, const std::string& symbol) {
  void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = ::dlerror();
    return Fail(ErrorCode::NotFound, "cannot load " + file + ": " + (why ? why : "unknown error"));
  }
  void* address = ::dlsym(module, symbol.c_str());
  if (!address) return Fail(ErrorCode::NotFound, file + " has no " + symbol);
  return address;
}

}  // namespace kv::platform
