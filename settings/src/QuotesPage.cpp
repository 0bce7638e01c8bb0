#include "QuotesPage.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>

#include "Controls.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"
#include "kvshared/CStatics.h"

namespace kv::settings {

QuotesPage::QuotesPage(QWidget* parent, FocusCommits& commits)
    : OptionPage(1, parent, commits),
      chkUseQuotes_(new QCheckBox(QStringLiteral("Use files selected in &Lexora application"), this)),
      lstQuotesFiles_(CreateCheckList("lstQuotesFiles", this, 0, 345, kPageWidth, kPageHeight - 780)),
      cmdAddQuotesFiles_(new QPushButton(QStringLiteral("Add &quotes files…"), this)),
      quotesFiles_(lstQuotesFiles_, ListOrder::AsGiven, "", &CResources::GetAvailableQuotesFiles,
                   &CSettings::GetSelectedQuotesFiles, &CSettings::SetSelectedQuotesFiles) {
  chkUseQuotes_->setObjectName(QStringLiteral("chkUseQuotes"));
  Place(chkUseQuotes_, 0, 0, kPageWidth, 300);
  cmdAddQuotesFiles_->setObjectName(QStringLiteral("cmdAddQuotesFiles"));
  Place(cmdAddQuotesFiles_, 0, kPageHeight - 375, 1800, 345);

  connect(chkUseQuotes_, &QCheckBox::toggled, this, &QuotesPage::chkUseQuotes_Change);
  connect(lstQuotesFiles_, &QListWidget::itemChanged, this, &QuotesPage::lstQuotesFiles_Change);
  connect(lstQuotesFiles_, &QListWidget::itemChanged, this, &OptionPage::Changed);
}

void QuotesPage::Show(CSettings& settings, const CResources* catalog) {
  showing_ = true;
  settings_ = &settings;
  // The quotes files are chosen here, or in the sibling application; once
  // it is installed, only here.
  chkUseQuotes_->setChecked(settings.UseQuotes());
  lstQuotesFiles_->setEnabled(!settings.UseQuotes());
  if (Statics().IsLexoraInstalled()) {
    chkUseQuotes_->setChecked(false);
    chkUseQuotes_->setEnabled(false);
    lstQuotesFiles_->setEnabled(true);
  }
  quotesFiles_.Show(settings, catalog);
  showing_ = false;
}

void QuotesPage::AddNames(const std::vector<std::string>& names) {
  if (!settings_) return;
  emit Edited();
  quotesFiles_.Add(names, *settings_);
  emit Changed();
}

void QuotesPage::chkUseQuotes_Change() {
  // The box is no edit that enables Apply (the next save stores it); it
  // counts even while the settings are shown, so an installed sibling clears it.
  if (!settings_) return;
  bool checked = chkUseQuotes_->isChecked();
  settings_->UseQuotes(checked);
  lstQuotesFiles_->setEnabled(!checked);
}

void QuotesPage::lstQuotesFiles_Change() {
  if (showing_ || !settings_) return;
  emit Edited();
  quotesFiles_.Commit(*settings_);
}

}  // namespace kv::settings
