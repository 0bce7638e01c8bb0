#include "BackgroundPage.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "ColorSwatch.h"
#include "Controls.h"
#include "EditingRules.h"
#include "ReadSettings.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

namespace kv::settings {

BackgroundPage::BackgroundPage(QWidget* parent, FocusCommits& commits)
    : OptionPage(3, parent, commits),
      lstBackGrounds_(CreateCheckList("lstBackGrounds", this, 0, 0, kPageWidth, 1230)),
      backgrounds_(lstBackGrounds_, ListOrder::AsGiven, "", &CResources::GetAvailableBackgrounds,
                   &CSettings::GetSelectedBackgrounds, &CSettings::SetSelectedBackgrounds) {
  cmdAddPictures_ = new QPushButton(QStringLiteral("Add &pictures…"), this);
  cmdAddPictures_->setObjectName(QStringLiteral("cmdAddPictures"));
  Place(cmdAddPictures_, 0, 1290, 1800, 345);
  // The list shows bare names; the tip says which files of the data folder it offers.
  lstBackGrounds_->setToolTip(QStringLiteral("The pictures in the data folder's Backgrounds: "
                                             ".bmp, .png, .jpg, .jpeg, .gif (first frame) and .webp files"));
  QLabel* modeCaption = CreateLabel(4, QStringLiteral("Picture display:"), this, 0, 1755, 1350);
  cboBackgroundMode_ = CreateList("cboBackgroundMode", this, 1410, 1710, 1290);
  modeCaption->setBuddy(cboBackgroundMode_);
  lblBackgroundColor_ = CreateLabel(5, QStringLiteral("&Background:"), this, 2820, 1755, 1110);
  txtBackgroundColor_ = new ColorSwatch(this);
  txtBackgroundColor_->setObjectName(QStringLiteral("txtBackgroundColor"));
  Place(txtBackgroundColor_, 3990, 1710, 535, 315);
  lblBackgroundColor_->setBuddy(txtBackgroundColor_);

  CommitNumberOnFocusLoss(cboBackgroundMode_, &CSettings::BackgroundMode);
  connect(lstBackGrounds_, &QListWidget::itemChanged, this, [this] {
    if (showing_ || !settings_) return;
    emit Edited();
    backgrounds_.Commit(*settings_);
  });

  connect(cboBackgroundMode_, &QComboBox::currentIndexChanged, this, &OptionPage::Changed);
  connect(lstBackGrounds_, &QListWidget::itemChanged, this, &OptionPage::Changed);
}

void BackgroundPage::Show(CSettings& settings, const CResources* catalog) {
  showing_ = true;
  settings_ = &settings;
  txtBackgroundColor_->ShowSetting(settings.BackgroundColor());
  cboBackgroundMode_->setCurrentIndex(ItemForNumber(settings.BackgroundMode(), cboBackgroundMode_->count()));
  backgrounds_.Show(settings, catalog);
  showing_ = false;
}

void BackgroundPage::AddPicks(service::SettingsSnapshot& snapshot) const {
  snapshot.BackgroundMode = PickedNumber(cboBackgroundMode_, snapshot.BackgroundMode);
}

void BackgroundPage::AddNames(const std::vector<std::string>& names) {
  if (!settings_) return;
  emit Edited();
  backgrounds_.Add(names, *settings_);
  emit Changed();
}

}  // namespace kv::settings
