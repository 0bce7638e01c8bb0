#include "EffectsPage.h"

#include <QListWidget>

#include "Controls.h"
#include "kvplatform/base/Log.h"
#include "kvshared/CSettings.h"

namespace kv::settings {

EffectsPage::EffectsPage(QWidget* parent, FocusCommits& commits) : OptionPage(0, parent, commits) {
  lstEffects_ = CreateCheckList("lstEffects", this, 0, 0, kPageWidth, kPageHeight);
  connect(lstEffects_, &QListWidget::itemChanged, this, &EffectsPage::lstEffects_Change);
  connect(lstEffects_, &QListWidget::itemChanged, this, &OptionPage::Changed);
}

Status EffectsPage::LoadTexts(const StringTable& strings) { return LoadEffectLabels(strings, labels_); }

void EffectsPage::Show(CSettings& settings) {
  showing_ = true;
  settings_ = &settings;
  if (!settings.GetSelectedEffects(selected_)) selected_.assign(1, std::string());
  FillEffectsList(lstEffects_, labels_, selected_);
  showing_ = false;
}

void EffectsPage::lstEffects_Change() {
  if (showing_ || !settings_) return;
  emit Edited();
  selected_ = CollectEffects(lstEffects_, selected_);
  if (auto set = settings_->SetSelectedEffects(selected_); !set) platform::LogError(set.error().message);
}

}  // namespace kv::settings
