#include "EffectsList.h"

#include <QListWidget>
#include <algorithm>
#include <string_view>

#include "CheckList.h"

namespace kv::settings {
namespace {

// The names the settings store holds, in the order the list shows them.
constexpr std::array<std::string_view, kEffectCount> kNames = {"Shadow", "Outline", "Box", "Contrast", "Smooth"};
// The string table's ids of the entries' texts, in the English block.
constexpr int kFirstLabelId = 127;

bool IsKnown(const std::string& name) { return std::find(kNames.begin(), kNames.end(), name) != kNames.end(); }

}  // namespace

Status LoadEffectLabels(const StringTable& Table, EffectLabels& Labels) {
  std::string missing;
  for (std::size_t i = 0; i < kEffectCount; ++i) {
    Labels[i] = QString::fromUtf8(kNames[i].data(), static_cast<qsizetype>(kNames[i].size()));
    auto text = Table.Load(kFirstLabelId + static_cast<int>(i));
    auto split = text ? SplitResourceText(*text) : Result<ResourceText>(std::unexpected(text.error()));
    if (split) {
      Labels[i] = split->text;
    } else {
      missing += (missing.empty() ? "" : "; ") + split.error().message;
    }
  }
  if (missing.empty()) return Ok();
  return Fail(ErrorCode::Corrupt, "the effects are listed by their stored names: " + missing);
}

void FillEffectsList(QListWidget* List, const EffectLabels& Labels, const std::vector<std::string>& Selected) {
  std::vector<std::string> names(kNames.begin(), kNames.end());
  FillCheckedList(List, names, Selected, ListOrder::AsGiven);
  for (int row = 0; row < List->count(); ++row) List->item(row)->setText(Labels[static_cast<std::size_t>(row)]);
}

std::vector<std::string> CollectEffects(const QListWidget* List, const std::vector<std::string>& Previous) {
  std::vector<std::string> names;
  CollectCheckedItems(List, names, "");
  if (names.size() == 1 && names[0].empty()) names.clear();
  for (const std::string& name : Previous) {
    if (!name.empty() && !IsKnown(name)) names.push_back(name);
  }
  if (names.empty()) names.emplace_back();
  return names;
}

}  // namespace kv::settings
