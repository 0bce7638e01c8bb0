#pragma once

// Fills the settings window's five choice lists and its caption from the
// string table.

#include <QString>
#include <array>
#include <cstdint>

#include "StringTable.h"
#include "kvplatform/base/Result.h"

class QComboBox;
class QWidget;

namespace kv::settings {

// What the texts go into. Every pointer must be set.
struct LocalisedControls {
  QWidget* window = nullptr;  // receives the caption
  QComboBox* cboVarious = nullptr;
  QComboBox* cboBackgroundMode = nullptr;
  QComboBox* cboFrequency = nullptr;
  QComboBox* cboVAlign = nullptr;
  QComboBox* cboHAlign = nullptr;
  std::array<QString, 5>* pageNames = nullptr;  // the page selector's five names
};

// Loads the English texts (whatever `language` says: only that block holds
// every row), fills each list keeping its selected position (or its default
// when nothing is selected), widens each list by its suffix's b, in twips,
// and sets the caption. Fails at the first text that is missing or
// malformed, at a sixth page name, or when a list's remembered position lies
// beyond its new items; what was done up to there stays done.
[[nodiscard]] Status ApplyLocalisation(const LocalisedControls& controls, const StringTable& table,
                                       std::int32_t language);

}  // namespace kv::settings
