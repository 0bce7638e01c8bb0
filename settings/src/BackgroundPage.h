#pragma once

// The Background page: the pictures behind the quotes, a button that adds
// pictures of the user's own, how a picture is displayed and the colour
// around it.

#include <string>
#include <vector>

#include "CheckedNames.h"
#include "OptionPage.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kv {
class CResources;
}

namespace kv::settings {

class ColorSwatch;

class BackgroundPage : public OptionPage {
  Q_OBJECT

 public:
  BackgroundPage(QWidget* parent, FocusCommits& commits);

  void Show(CSettings& settings, const CResources* catalog);
  void AddPicks(service::SettingsSnapshot& snapshot) const override;

  // The pictures just copied into the data folder, added ticked.
  void AddNames(const std::vector<std::string>& names);

  QPushButton* AddButton() const { return cmdAddPictures_; }
  QComboBox* ModeList() const { return cboBackgroundMode_; }
  // The background's colour, chosen by the window, which keeps it apart from
  // the text's; and its caption, which names the colour's shortcut.
  ColorSwatch* Swatch() const { return txtBackgroundColor_; }
  QLabel* SwatchCaption() const { return lblBackgroundColor_; }

 private:
  QListWidget* lstBackGrounds_ = nullptr;
  QPushButton* cmdAddPictures_ = nullptr;
  QComboBox* cboBackgroundMode_ = nullptr;
  QLabel* lblBackgroundColor_ = nullptr;
  ColorSwatch* txtBackgroundColor_ = nullptr;
  CheckedNames backgrounds_;
};

}  // namespace kv::settings
