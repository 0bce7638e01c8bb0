#include "WaylandMonitors.h"

namespace kv::platform {

std::optional<std::vector<Monitor>> QueryWaylandMonitors() { return std::nullopt; }

}  // namespace kv::platform
