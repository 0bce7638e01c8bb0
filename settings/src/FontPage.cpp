#include "FontPage.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QListWidget>

#include "ColorSwatch.h"
#include "Controls.h"
#include "EditingRules.h"
#include "FontPreview.h"
#include "ReadSettings.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

namespace kv::settings {
namespace {

const QString kPreviewText = QStringLiteral("aAbByYzZ");

}  // namespace

FontPage::FontPage(QWidget* parent, FocusCommits& commits)
    : OptionPage(2, parent, commits),
      lstFont_(CreateCheckList("lstFont", this, 0, 0, 2700, 1620)),
      fonts_(lstFont_, ListOrder::Alphabetical, "Arial", &CResources::GetAvailableFonts, &CSettings::GetSelectedFonts,
             &CSettings::SetSelectedFonts) {
  txtFontPreview_ = new FontPreview(kPreviewText, this);
  txtFontPreview_->setObjectName(QStringLiteral("txtFontPreview"));
  Place(txtFontPreview_, 2820, 0, kPageWidth - 2820, 1620);
  QLabel* sizeCaption = CreateLabel(2, QStringLiteral("&Size:"), this, 0, 1755, 540);
  cboFontSize_ = CreateList("cboFontSize", this, 600, 1710, 900);
  sizeCaption->setBuddy(cboFontSize_);
  lblColor_ = CreateLabel(3, QStringLiteral("&Color:"), this, 2820, 1755, 660);
  txtColor_ = new ColorSwatch(this);
  txtColor_->setObjectName(QStringLiteral("txtColor"));
  Place(txtColor_, 3540, 1710, 535, 315);
  lblColor_->setBuddy(txtColor_);

  CommitOnFocusLoss(cboFontSize_, [this](CSettings& settings) {
    if (cboFontSize_->currentIndex() < 0) return;
    emit Edited();
    settings.FontSize(cboFontSize_->currentText().toStdString());
  });
  connect(lstFont_, &QListWidget::itemChanged, this, [this] {
    if (showing_ || !settings_) return;
    emit Edited();
    fonts_.Commit(*settings_);
  });
  // The preview never keeps the focus; it hands it to the size.
  txtFontPreview_->installEventFilter(this);
  connect(lstFont_, &QListWidget::currentItemChanged, this, &FontPage::lstFont_Highlight);
  connect(cboFontSize_, &QComboBox::currentIndexChanged, this, &FontPage::cboFontSize_Change);

  connect(cboFontSize_, &QComboBox::currentIndexChanged, this, &OptionPage::Changed);
  connect(lstFont_, &QListWidget::itemChanged, this, &OptionPage::Changed);
}

void FontPage::Show(CSettings& settings, const CResources* catalog) {
  showing_ = true;
  settings_ = &settings;
  txtColor_->ShowSetting(settings.FontColor());
  fonts_.Show(settings, catalog);
  {
    // Only the selection below sets the preview's size, not the first item
    // that adding selects on its own for a moment.
    QSignalBlocker quiet(cboFontSize_);
    cboFontSize_->clear();
    cboFontSize_->addItems(FontSizeItems());
    cboFontSize_->setCurrentIndex(-1);
  }
  cboFontSize_->setCurrentIndex(FontSizeItemForSetting(settings.FontSize()));
  showing_ = false;
}

void FontPage::AddPicks(service::SettingsSnapshot& snapshot) const {
  if (cboFontSize_->currentIndex() >= 0) snapshot.FontSize = cboFontSize_->currentText().toStdString();
}

void FontPage::lstFont_Highlight() {
  QListWidgetItem* current = lstFont_->currentItem();
  if (!current) return;
  QFont preview = txtFontPreview_->font();
  preview.setFamily(current->text());
  preview.setItalic(false);
  txtFontPreview_->setFont(preview);
}

void FontPage::cboFontSize_Change() {
  if (cboFontSize_->currentIndex() < 0) return;
  QFont preview = txtFontPreview_->font();
  preview.setPointSize(cboFontSize_->currentText().toInt());
  txtFontPreview_->setFont(preview);
}

bool FontPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtFontPreview_ && event->type() == QEvent::FocusIn) {
    PassFocusOn(txtFontPreview_, cboFontSize_, static_cast<QFocusEvent*>(event)->reason());
  }
  return OptionPage::eventFilter(watched, event);
}

}  // namespace kv::settings
