#pragma once

// The Effects page's check list: one entry per effect, showing its text from
// the string table and standing for the effect's stable stored name.

#include <QString>
#include <array>
#include <string>
#include <vector>

#include "StringTable.h"

class QListWidget;

namespace kv::settings {

inline constexpr std::size_t kEffectCount = 5;
using EffectLabels = std::array<QString, kEffectCount>;

// The entries' texts from the string table, in the list's order. A text the
// table lacks shows the effect's stored name instead; the answer says what
// was missing.
[[nodiscard]] Status LoadEffectLabels(const StringTable& Table, EffectLabels& Labels);

// Refills `List` with the effects and ticks those `Selected` names.
void FillEffectsList(QListWidget* List, const EffectLabels& Labels, const std::vector<std::string>& Selected);

// The names to store: the ticked effects in the list's order, then the names
// of `Previous` that no entry stands for (a newer version's effects), kept
// as they were. One empty name when there is nothing to store.
std::vector<std::string> CollectEffects(const QListWidget* List, const std::vector<std::string>& Previous);

}  // namespace kv::settings
