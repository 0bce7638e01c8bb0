#pragma once

// One of the settings window's option pages, as the page selector offers
// them: a widget that makes its own controls, shows its part of the settings
// and commits the user's edits into them. The window decides which page
// shows, when the settings are saved and what the preview shows; a page
// tells it through its signals.

#include <QWidget>
#include <functional>
#include <string_view>

#include "FocusCommits.h"

class QComboBox;

namespace kv {
class CSettings;
}
namespace kv::service {
struct SettingsSnapshot;
}

namespace kv::settings {

class OptionPage : public QWidget {
  Q_OBJECT

 public:
  // Page `index`, named fraOptionPanel<index>, in `parent`, out of sight
  // until the window shows it. `commits` runs the page's commits when the
  // focus leaves its controls.
  OptionPage(int index, QWidget* parent, FocusCommits& commits);

  // Writes into `snapshot` what the page's lists show and have not yet
  // committed (they commit when they are left), so the preview shows it at
  // once.
  virtual void AddPicks(service::SettingsSnapshot& snapshot) const;

 signals:
  // The user changed a setting: Apply has something to save.
  void Edited();
  // What the page shows has changed, committed or not: the preview follows.
  void Changed();

 protected:
  using TextSetter = void (CSettings::*)(std::string_view);

  // Runs `commit` on the settings when the focus leaves `control`; nothing
  // before the page shows settings.
  void CommitOnFocusLoss(QWidget* control, std::function<void(CSettings&)> commit);
  // A list whose stored number is its item's position. A list showing no
  // item (its stored value fits none) commits nothing: the value stays.
  void CommitNumberOnFocusLoss(QComboBox* list, TextSetter setter);

  CSettings* settings_ = nullptr;  // the settings shown, owned by the window
  bool showing_ = false;           // the settings are being put into the controls

 private:
  FocusCommits& commits_;
};

// The position of the picked item of `list`, or `value` when it shows none.
int PickedNumber(const QComboBox* list, int value);

}  // namespace kv::settings
