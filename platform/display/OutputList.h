#pragma once

// Turning what a compositor says about its outputs into monitors, the same
// way for every way of asking it.

#include <cstdint>
#include <string>
#include <vector>

#include "kvplatform/base/Result.h"
#include "kvplatform/display/Screen.h"

namespace kv::platform {

struct OutputFacts {
  std::string name;
  std::int64_t x = 0;  // the position in the compositor's layout
  std::int64_t y = 0;
  std::int64_t width = 0;  // the mode, in physical pixels, before turning
  std::int64_t height = 0;
  bool turned = false;  // shown a quarter turn round, so width and height swap
  bool primary = false;
};

// The monitors of `outputs`, the primary (the first marked, else the first)
// first. An output of an impossible size or position is left out; fails
// with ErrorCode::Corrupt when none is left or when together they spread
// over more than 32767 pixels, which no bitmap of the system can hold.
// `source` names the answer in messages ("swaymsg -t get_outputs").
[[nodiscard]] Result<std::vector<Monitor>> MonitorsFrom(std::vector<OutputFacts> outputs, const std::string& source);

// `name` when it is safe as an argument of a desktop tool and as part of a
// file name, else the empty text.
std::string SafeConnectorName(const std::string& name);

}  // namespace kv::platform
