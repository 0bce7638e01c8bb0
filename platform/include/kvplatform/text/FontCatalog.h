#pragma once

#include <string>
#include <vector>

namespace kv::platform {

// The installed scalable font families (the screen font list): each family
// name once, in case-insensitive alphabetical order.
std::vector<std::string> ListFontFamilies();

}  // namespace kv::platform
