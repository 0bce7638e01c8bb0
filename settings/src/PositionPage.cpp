#include "PositionPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "Controls.h"
#include "EditingRules.h"
#include "QuoteMonitorsChoice.h"
#include "ReadSettings.h"
#include "axLine.h"
#include "kvshared/CSettings.h"
#include "kvshared/Convert.h"

namespace kv::settings {
namespace {

using MarginSetter = void (CSettings::*)(std::string_view);
constexpr std::array<MarginSetter, 4> kMarginSetters{&CSettings::TopMargin, &CSettings::BottomMargin,
                                                     &CSettings::LeftMargin, &CSettings::RightMargin};

}  // namespace

PositionPage::PositionPage(QWidget* parent, FocusCommits& commits, QuoteMonitorsChoice& monitors)
    : OptionPage(4, parent, commits), monitors_(monitors) {
  auto* alignment = new axLine(this);
  alignment->setObjectName(QStringLiteral("lneAlignment"));
  Place(alignment, 0, 0, kPageWidth, 255);
  alignment->ReadProperties({{QStringLiteral("Caption"), QStringLiteral(" Alignment ")}}, window()->font());
  QLabel* horizontal = CreateLabel(1, QStringLiteral("Horizontal:"), this, 0, 315, 960);
  cboHAlign_ = CreateList("cboHAlign", this, 1020, 270, 1290);
  horizontal->setBuddy(cboHAlign_);
  QLabel* vertical = CreateLabel(6, QStringLiteral("Vertical:"), this, 2460, 315, 780);
  cboVAlign_ = CreateList("cboVAlign", this, 3270, 270, 1290);
  vertical->setBuddy(cboVAlign_);

  auto* margins = new axLine(this);
  margins->setObjectName(QStringLiteral("lneMargins"));
  Place(margins, 0, 660, kPageWidth, 255);
  margins->ReadProperties({{QStringLiteral("Caption"), QStringLiteral(" Margins ")}}, window()->font());
  // Created in reading order, which is also the order of the Tab key:
  // top, left, bottom, right.
  struct Margin {
    int index;
    int label;
    const char* caption;
    int left;
    int top;
  };
  for (Margin margin : {Margin{0, 7, "Top:", 0, 930}, Margin{2, 9, "Left:", 2460, 930},
                        Margin{1, 8, "Bottom:", 0, 1320}, Margin{3, 10, "Right", 2460, 1320}}) {
    QLabel* caption = CreateLabel(margin.label, QString::fromLatin1(margin.caption), this, margin.left,
                                  margin.top + 45, margin.left == 0 ? 960 : 780);
    QComboBox* list =
        CreateList("cboMargin", this, margin.left + (margin.left == 0 ? 1020 : 810), margin.top, 1290);
    list->setObjectName(QStringLiteral("cboMargin%1").arg(margin.index));
    caption->setBuddy(list);
    cboMargin_[static_cast<size_t>(margin.index)] = list;
  }
  chkAllowViolation_ = new QCheckBox(QStringLiteral("Allow large texts to violate margin or screen boundaries"), this);
  chkAllowViolation_->setObjectName(QStringLiteral("chkAllowViolation"));
  Place(chkAllowViolation_, 0, 1740, kPageWidth, 300);

  CommitNumberOnFocusLoss(cboHAlign_, &CSettings::HAlign);
  CommitNumberOnFocusLoss(cboVAlign_, &CSettings::VAlign);
  CommitOnFocusLoss(monitors_.List(), [this](CSettings& settings) {
    if (monitors_.List()->currentIndex() < 0) return;
    emit Edited();
    settings.QuoteMonitors(monitors_.Value(settings.QuoteMonitors()));
  });
  for (int index = 0; index < static_cast<int>(cboMargin_.size()); ++index) {
    CommitOnFocusLoss(cboMargin_[static_cast<size_t>(index)],
                      [this, index](CSettings& settings) { CommitMargin(settings, index); });
  }
  CommitOnFocusLoss(chkAllowViolation_, [this](CSettings& settings) {
    emit Edited();
    settings.AllowViolation(chkAllowViolation_->isChecked());
  });

  for (QComboBox* list : {cboHAlign_, cboVAlign_}) connect(list, &QComboBox::currentIndexChanged, this, &OptionPage::Changed);
  for (QComboBox* list : cboMargin_) connect(list, &QComboBox::currentIndexChanged, this, &OptionPage::Changed);
  connect(chkAllowViolation_, &QCheckBox::toggled, this, &OptionPage::Changed);
}

void PositionPage::Show(CSettings& settings) {
  showing_ = true;
  settings_ = &settings;
  for (QComboBox* list : cboMargin_) {
    list->clear();
    list->addItems(MarginItems());
  }
  cboMargin_[0]->setCurrentIndex(MarginItemForSetting(settings.TopMargin()));
  cboMargin_[1]->setCurrentIndex(MarginItemForSetting(settings.BottomMargin()));
  cboMargin_[2]->setCurrentIndex(MarginItemForSetting(settings.LeftMargin()));
  cboMargin_[3]->setCurrentIndex(MarginItemForSetting(settings.RightMargin()));
  chkAllowViolation_->setChecked(settings.AllowViolation());
  cboHAlign_->setCurrentIndex(ItemForNumber(settings.HAlign(), cboHAlign_->count()));
  cboVAlign_->setCurrentIndex(ItemForNumber(settings.VAlign(), cboVAlign_->count()));
  monitors_.Show(settings.QuoteMonitors());
  showing_ = false;
}

void PositionPage::AddPicks(service::SettingsSnapshot& snapshot) const {
  snapshot.HAlign = PickedNumber(cboHAlign_, snapshot.HAlign);
  snapshot.VAlign = PickedNumber(cboVAlign_, snapshot.VAlign);
  std::int32_t* margins[] = {&snapshot.TopMargin, &snapshot.BottomMargin, &snapshot.LeftMargin,
                             &snapshot.RightMargin};
  for (size_t i = 0; i < cboMargin_.size(); ++i) {
    if (cboMargin_[i]->currentIndex() < 0) continue;
    if (auto margin = TextToInt32(MarginSetting(cboMargin_[i]->currentText()))) *margins[i] = *margin;
  }
}

void PositionPage::CommitMargin(CSettings& settings, int index) {
  QComboBox* list = cboMargin_[static_cast<size_t>(index)];
  if (list->currentIndex() < 0) return;
  emit Edited();
  (settings.*kMarginSetters[static_cast<size_t>(index)])(MarginSetting(list->currentText()));
}

}  // namespace kv::settings
