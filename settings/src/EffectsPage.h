#pragma once

// The Effects page: which effects the wallpaper gets, one ticked entry each.

#include <string>
#include <vector>

#include "EffectsList.h"
#include "OptionPage.h"

class QListWidget;

namespace kv::settings {

class EffectsPage : public OptionPage {
  Q_OBJECT

 public:
  EffectsPage(QWidget* parent, FocusCommits& commits);

  // The entries' texts from the string table; see LoadEffectLabels.
  [[nodiscard]] Status LoadTexts(const StringTable& strings);
  void Show(CSettings& settings);

 private:
  void lstEffects_Change();

  QListWidget* lstEffects_ = nullptr;
  EffectLabels labels_;
  std::vector<std::string> selected_;
};

}  // namespace kv::settings
