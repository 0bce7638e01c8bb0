// A compositor's reply -> monitors. Whatever the bytes, the reading ends,
// and every list it answers is one the rest of the system can use: at least
// one monitor, the one primary first, every side within 1..32767, all of them
// together within 32767 pixels each way, and names that are safe to pass on.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Json.h"
#include "OutputList.h"
#include "WaylandMonitors.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckList(const kv::Result<std::vector<kv::platform::Monitor>>& monitors) {
  if (!monitors) return;
  Check(!monitors->empty());
  std::int32_t left = monitors->front().rect.left, right = monitors->front().rect.right;
  std::int32_t top = monitors->front().rect.top, bottom = monitors->front().rect.bottom;
  for (std::size_t i = 0; i < monitors->size(); ++i) {
    const auto& monitor = (*monitors)[i];
    Check(monitor.primary == (i == 0));
    Check(monitor.rect.right - monitor.rect.left >= 1 && monitor.rect.right - monitor.rect.left <= 32767);
    Check(monitor.rect.bottom - monitor.rect.top >= 1 && monitor.rect.bottom - monitor.rect.top <= 32767);
    Check(kv::platform::SafeConnectorName(monitor.name) == monitor.name);
    left = std::min(left, monitor.rect.left);
    right = std::max(right, monitor.rect.right);
    top = std::min(top, monitor.rect.top);
    bottom = std::max(bottom, monitor.rect.bottom);
  }
  Check(right - left <= 32767 && bottom - top <= 32767);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)kv::platform::ParseJson(text);
  CheckList(kv::platform::ParseSwayOutputs(text));
  CheckList(kv::platform::ParseHyprlandMonitors(text));
  return 0;
}
