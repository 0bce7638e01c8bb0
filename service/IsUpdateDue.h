#pragma once

#include <cstdint>
#include <functional>

#include "kvplatform/process/LocalTime.h"

namespace kv::service {

// True when the stored "UpdateDate" has been reached (by the minute); it has
// then already stored the next date, `days` whole days from now. A missing
// date counts as now, and a text that does not read as a date counts as due.
bool IsUpdateDue(const std::int32_t& days, const std::function<platform::LocalDateTime()>& now = platform::Now);

}  // namespace kv::service
