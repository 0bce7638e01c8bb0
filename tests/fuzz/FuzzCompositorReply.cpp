// A compositor's reply -> monitors. Whatever the bytes, the reading ends, and every list answered is usable: at least
// one monitor, the one primary first, every side and the whole within 1..32767, and names safe to pass on.

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "Json.h"
#include "OutputList.h"
#include "WaylandMonitors.h"

namespace {

void CheckList(const kv::Result<std::vector<kv::platform::Monitor>>& monitors) {
  if (!monitors) return;
  Check(!monitors->empty());
  kv::platform::ScreenRect all = monitors->front().rect;
  for (std::size_t i = 0; i < monitors->size(); ++i) {
    const auto& [name, rect, primary, taskbar] = (*monitors)[i];
    Check(primary == (i == 0) && kv::platform::SafeConnectorName(name) == name);
    Check(rect.right - rect.left >= 1 && rect.right - rect.left <= 32767);
    Check(rect.bottom - rect.top >= 1 && rect.bottom - rect.top <= 32767);
    all = {std::min(all.left, rect.left), std::min(all.top, rect.top), std::max(all.right, rect.right),
           std::max(all.bottom, rect.bottom)};
  }
  Check(all.right - all.left <= 32767 && all.bottom - all.top <= 32767);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)kv::platform::ParseJson(text);
  CheckList(kv::platform::ParseSwayOutputs(text));
  CheckList(kv::platform::ParseHyprlandMonitors(text));
  return 0;
}
