#pragma once

// The Position page: where the quote goes on the screen (alignment and
// margins), whether a large quote may cross them, and on which monitors it
// shows.

#include <array>

#include "OptionPage.h"

class QCheckBox;
class QComboBox;

namespace kv::settings {

class QuoteMonitorsChoice;

class PositionPage : public OptionPage {
  Q_OBJECT

 public:
  // `monitors` is the choice of monitors that sits beside the page selector,
  // since the page is full; the window shows it with this page.
  PositionPage(QWidget* parent, FocusCommits& commits, QuoteMonitorsChoice& monitors);

  void Show(CSettings& settings);
  void AddPicks(service::SettingsSnapshot& snapshot) const override;

  QComboBox* HAlignList() const { return cboHAlign_; }
  QComboBox* VAlignList() const { return cboVAlign_; }

 private:
  void CommitMargin(CSettings& settings, int index);

  QuoteMonitorsChoice& monitors_;
  QComboBox* cboHAlign_ = nullptr;
  QComboBox* cboVAlign_ = nullptr;
  std::array<QComboBox*, 4> cboMargin_{};  // top, bottom, left, right
  QCheckBox* chkAllowViolation_ = nullptr;
};

}  // namespace kv::settings
