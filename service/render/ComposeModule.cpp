#include "ComposeModule.h"

#include "kvplatform/base/Log.h"

namespace {

kv::render::LogFunction* errorLine = nullptr;
kv::render::LogFunction* onceLine = nullptr;

// The module holds its own copy of the log; its lines go to the loading
// program's, which remembers what it wrote once.
void Forward(std::string_view message, bool once) { (once ? onceLine : errorLine)(message); }

}  // namespace

extern "C" __attribute__((visibility("default"))) kv::render::ComposeFunction* kv_compose_entry(
    kv::render::LogFunction* error, kv::render::LogFunction* once) {
  errorLine = error;
  onceLine = once;
  kv::platform::DivertLog(Forward);
  return &kv::render::ComposeMonitors;
}
