#include "OptionPage.h"

#include <QComboBox>
#include <string>

#include "Controls.h"
#include "kvshared/CSettings.h"

namespace kv::settings {

OptionPage::OptionPage(int index, QWidget* parent, FocusCommits& commits) : QWidget(parent), commits_(commits) {
  setObjectName(QStringLiteral("fraOptionPanel%1").arg(index));
  Place(this, kPageHiddenLeft, kPageTop, kPageWidth, kPageHeight);
}

void OptionPage::AddPicks(service::SettingsSnapshot&) const {}

void OptionPage::CommitOnFocusLoss(QWidget* control, std::function<void(CSettings&)> commit) {
  commits_.Watch(control, [this, commit = std::move(commit)] {
    if (settings_) commit(*settings_);
  });
}

void OptionPage::CommitNumberOnFocusLoss(QComboBox* list, TextSetter setter) {
  CommitOnFocusLoss(list, [this, list, setter](CSettings& settings) {
    if (list->currentIndex() < 0) return;
    emit Edited();
    (settings.*setter)(std::to_string(list->currentIndex()));
  });
}

int PickedNumber(const QComboBox* list, int value) { return list->currentIndex() >= 0 ? list->currentIndex() : value; }

}  // namespace kv::settings
