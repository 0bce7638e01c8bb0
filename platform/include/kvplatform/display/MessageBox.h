#pragma once

#include <string_view>

namespace kv::platform {

enum class MessageIcon { Error, Information };

// Tells the user something and waits until they have dismissed it: one line
// on stderr always, and with a display a dialog that must be closed (the
// desktop's own dialog tool where one is installed, else a small window of
// this program's own). Without a display nothing waits, since nobody could
// answer.
void ShowMessageBox(std::string_view title, std::string_view text, MessageIcon icon);

}  // namespace kv::platform
