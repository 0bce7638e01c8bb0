#include "OutputList.h"

#include <algorithm>

namespace kv::platform {

namespace {

constexpr std::int64_t kMaxExtent = 32767;

}  // namespace

std::string SafeConnectorName(const std::string& name) {
  // Connector names are short words such as "HDMI-A-1" or "DP-2". The name
  // ends up in a sway command line (where a space or ";" would start another
  // command) and in a file name (where "/" or ".." would leave the folder).
  if (name.empty() || name.size() > 64 || name.front() == '.' || name.front() == '-') return {};
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
                 c == ':' || c == '+' || c == '-';
    if (!plain) return {};
  }
  return name;
}

Result<std::vector<Monitor>> MonitorsFrom(std::vector<OutputFacts> outputs, const std::string& source) {
  std::vector<Monitor> monitors;
  std::size_t primary = 0;
  bool primaryFound = false;
  for (const OutputFacts& output : outputs) {
    std::int64_t width = output.turned ? output.height : output.width;
    std::int64_t height = output.turned ? output.width : output.height;
    if (width < 1 || height < 1 || width > kMaxExtent || height > kMaxExtent) continue;
    if (output.x < -kMaxExtent || output.x > kMaxExtent || output.y < -kMaxExtent || output.y > kMaxExtent) continue;
    if (output.primary && !primaryFound) {
      primaryFound = true;
      primary = monitors.size();
    }
    Monitor monitor;
    monitor.name = SafeConnectorName(output.name);
    monitor.rect = {static_cast<std::int32_t>(output.x), static_cast<std::int32_t>(output.y),
                    static_cast<std::int32_t>(output.x + width), static_cast<std::int32_t>(output.y + height)};
    monitors.push_back(std::move(monitor));
  }
  if (monitors.empty()) return Fail(ErrorCode::Corrupt, source + " lists no active output of a usable size");
  std::int32_t left = monitors.front().rect.left, top = monitors.front().rect.top;
  std::int32_t right = monitors.front().rect.right, bottom = monitors.front().rect.bottom;
  for (const Monitor& monitor : monitors) {
    left = std::min(left, monitor.rect.left);
    top = std::min(top, monitor.rect.top);
    right = std::max(right, monitor.rect.right);
    bottom = std::max(bottom, monitor.rect.bottom);
  }
  if (right - left > kMaxExtent || bottom - top > kMaxExtent) {
    return Fail(ErrorCode::Corrupt, source + " places its outputs over more than 32767 pixels");
  }
  std::rotate(monitors.begin(), monitors.begin() + static_cast<std::ptrdiff_t>(primary),
              monitors.begin() + static_cast<std::ptrdiff_t>(primary) + 1);
  monitors.front().primary = true;
  return monitors;
}

}  // namespace kv::platform
