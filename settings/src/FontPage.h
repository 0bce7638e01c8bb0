#pragma once

// The Font page: the fonts the quotes may be drawn in, a preview of the
// highlighted font at the chosen size, the size and the text's colour.

#include "CheckedNames.h"
#include "OptionPage.h"

class QComboBox;
class QLabel;
class QListWidget;

namespace kv {
class CResources;
}

namespace kv::settings {

class ColorSwatch;
class FontPreview;

class FontPage : public OptionPage {
  Q_OBJECT

 public:
  FontPage(QWidget* parent, FocusCommits& commits);

  void Show(CSettings& settings, const CResources* catalog);
  void AddPicks(service::SettingsSnapshot& snapshot) const override;

  // The text's colour, chosen by the window, which keeps it apart from the
  // background's; and its caption, which names the colour's shortcut.
  ColorSwatch* Swatch() const { return txtColor_; }
  QLabel* SwatchCaption() const { return lblColor_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void lstFont_Highlight();
  void cboFontSize_Change();

  QListWidget* lstFont_ = nullptr;
  FontPreview* txtFontPreview_ = nullptr;
  QComboBox* cboFontSize_ = nullptr;
  QLabel* lblColor_ = nullptr;
  ColorSwatch* txtColor_ = nullptr;
  CheckedNames fonts_;
};

}  // namespace kv::settings
